#pragma once
// The four remote tools a controller may use: run a command, list a directory, fetch a file,
// read the end of a log. Each worker runs on a detached thread of its own and answers through
// `send`; none of them throws.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "session/tools/remote_tool_formats.h"
#include "session/tools/shell_command.h"

namespace sv {

using ToolSend = std::function<void(const std::string& text)>;

// Adds one entry of a directory to `listing` (left out once the listing is full).
void MakeDirEntryJson(DirListing& listing, const WIN32_FIND_DATAW& entry, bool isDir);

void HandleExecRequest(const ToolSend& send, const std::string& id, const std::string& command,
                       const std::string& from, const std::atomic<bool>* cancel = nullptr);
void HandleFsList(const ToolSend& send, const std::string& id, const std::string& path, const std::string& from);
void HandleFsRead(const ToolSend& send, const std::string& id, const std::string& path, const std::string& from,
                  const std::atomic<bool>* cancel = nullptr);
void HandleLogTail(const ToolSend& send, const std::string& id, const std::string& path, const nlohmann::json& lines,
                   const std::string& from);

}  // namespace sv
