#pragma once
// The staging folder of an update: writing a verified package into it, reading its
// files back checked against the signed manifest kept beside them, and the running
// program's own path.
#include <cstdint>
#include <string>
#include <vector>

#include "app/update_package.h"

namespace sv {

// Children of the data folder: the staged package, and the folder the installer runs
// from, which holds nothing but the installer's own verified executable.
constexpr char kStagingFolderName[] = "update-staging";
constexpr char kRunnerFolderName[] = "update-runner";

// Verifies `package` (app/update_package.h) and, only when all of it passes, replaces
// the staging folder with exactly its files, the manifest and its signature. Any failed
// write removes the folder again, so a partly written package is never left to be
// applied. True when written whole.
bool UnpackVerifiedUpdate(const std::vector<uint8_t>& package, const std::string& stagingDir,
                          const std::string& keyBase64);

// The staged manifest, its signature checked again under `keyBase64`.
bool ReadStagedManifest(const std::string& stagingDir, const std::string& keyBase64, UpdateManifest& listed,
                        std::string& error);

// One staged file, read whole and checked against its manifest digest: these bytes,
// not the file (which may change after the check), are what gets installed.
bool ReadStagedFile(const std::string& stagingDir, const std::string& name, const std::string& digest,
                    std::string& bytes, std::string& error);

// A package name ("sub/a.txt") under `dir`, with Windows separators.
std::string StagedPath(const std::string& dir, const std::string& name);

// The full path of the running program, UTF-8.
std::string GetOwnExePath();

}  // namespace sv
