#include "app/update_package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/update_staging.h"
#include <nlohmann/json.hpp>

#include "app/update_test_support.h"
#include "base/file_io.h"
#include "test_support.h"

namespace {

using sv_test::Bytes;
using sv_test::TestSigner;
using sv_test::ZipBuilder;

std::string Digest(const std::string& content) { return sv::Sha256Hex(content); }

TEST(UpdateSignature, OnlyTheMatchingKeyAndDigestVerify) {
    TestSigner signer, other;
    const std::string key = signer.PublicKeyBase64();
    std::vector<uint8_t> signature = signer.Sign("manifest");
    ASSERT_FALSE(signature.empty());
    uint8_t digest[32];
    mbedtls_sha256(reinterpret_cast<const uint8_t*>("manifest"), 8, digest, 0);
    EXPECT_TRUE(sv::VerifyUpdateSignature(key, digest, signature));

    uint8_t otherDigest[32];
    std::copy(digest, digest + 32, otherDigest);
    otherDigest[31] ^= 1;
    std::vector<uint8_t> flipped = signature;
    flipped[flipped.size() / 2] ^= 0x40;
    EXPECT_FALSE(sv::VerifyUpdateSignature(key, otherDigest, signature));
    EXPECT_FALSE(sv::VerifyUpdateSignature(key, digest, flipped));
    EXPECT_FALSE(sv::VerifyUpdateSignature(other.PublicKeyBase64(), digest, signature));
    EXPECT_FALSE(sv::VerifyUpdateSignature("not base64!", digest, signature));
    EXPECT_FALSE(sv::VerifyUpdateSignature(key.substr(0, 40), digest, signature));
    EXPECT_FALSE(sv::VerifyUpdateSignature(key, digest, {}));
}

TEST(UpdateSignature, SelfTestPasses) {
    sv::InstallTlsThreadingLocks();
    EXPECT_TRUE(sv::UpdateSelfTest());
}

TEST(UpdatePackage, EntryNamesThatCouldLeaveTheStagingFolderAreRefused) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.txt", "a.txt"},
        {"sub\\dir\\b.bin", "sub/dir/b.bin"},
        {"sub/./c", ""},
        {"console.txt", "console.txt"},
        {"", ""},
        {"/etc/x", ""},
        {"\\windows\\x", ""},
        {"\\\\?\\C:\\x", ""},
        {"C:x.exe", ""},
        {"a.txt:stream", ""},
        {"../up", ""},
        {"sub/../../up", ""},
        {"two..dots", ""},
        {"ctl\x01name", ""},
        {"what?.txt", ""},
        {"sub/NUL", ""},
        {"con.txt", ""},
        {"dir/Com1.log", ""},
        {"lpt9", ""},
        {"COM0", ""},
        {"dir/lpt\xC2\xB3.txt", ""},
        {"com10", "com10"},
        // Names Windows opens as another name's file.
        {"host.exe.", ""},
        {"host.exe ", ""},
        {"sub./a.txt", ""},
        {"./a.txt", ""},
        {"a//b", ""},
        {"PROGRA~1/host.exe", ""},
        {"HOST~12.EXE", ""},
        {"caf\xC3\xA9.txt", ""},
        {"\xC3\x84.txt", ""},
        {"a~b.txt", "a~b.txt"},
        {".config", ".config"},
    };
    for (const auto& c : cases) EXPECT_EQ(sv::SafePackageFileName(c.first), c.second) << c.first;
}

// A package as the release tooling makes it, open to changes before it is built.
struct PackageSpec {
    std::vector<std::pair<std::string, std::string>> files{{"host.exe", "MZ new program"}, {"data/info.txt", "hello"}};
    std::function<void(std::string& manifest)> editManifest;
    std::function<void(std::string& signedManifest)> editAfterSigning;
    std::function<void(ZipBuilder&)> extraEntries;
    std::function<void(ZipBuilder&)> leadingEntries;
    bool sign = true;
};

std::vector<uint8_t> MakePackage(TestSigner& signer, const PackageSpec& spec) {
    nlohmann::json listed = nlohmann::json::object();
    // The manifest names files with forward slashes whatever the entry uses.
    for (const auto& f : spec.files) {
        std::string name = f.first;
        std::replace(name.begin(), name.end(), '\\', '/');
        listed[name] = Digest(f.second);
    }
    std::string manifest = listed.dump();
    if (spec.editManifest) spec.editManifest(manifest);
    std::string signature = signer.SignBase64(manifest);
    if (spec.editAfterSigning) spec.editAfterSigning(manifest);
    ZipBuilder zip;
    if (spec.leadingEntries) spec.leadingEntries(zip);
    zip.Add("_manifest.json", manifest, true);
    if (spec.sign) zip.Add("_manifest.sig", signature);
    for (const auto& f : spec.files) zip.Add(f.first, f.second, true);
    if (spec.extraEntries) spec.extraEntries(zip);
    return zip.Build();
}

TEST(UpdatePackage, ASignedPackageGivesItsFiles) {
    TestSigner signer;
    PackageSpec spec;
    spec.extraEntries = [](ZipBuilder& z) { z.Add("data/", ""); };
    std::vector<sv::PackageFile> files;
    std::string error;
    ASSERT_TRUE(sv::ReadVerifiedPackage(MakePackage(signer, spec), signer.PublicKeyBase64(), files, error)) << error;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "host.exe");
    EXPECT_EQ(files[0].data, Bytes("MZ new program"));
    EXPECT_EQ(files[1].name, "data/info.txt");
}

TEST(UpdatePackage, ManifestRulesRefuseTheWholePackage) {
    struct Case {
        const char* name;
        std::function<void(PackageSpec&)> change;
        const char* error;
    };
    const Case cases[] = {
        {"unsigned", [](PackageSpec& s) { s.sign = false; }, "manifest or signature missing"},
        {"manifest changed by one space after signing",
         [](PackageSpec& s) { s.editAfterSigning = [](std::string& m) { m.insert(1, " "); }; }, "bad signature"},
        {"file not in the manifest", [](PackageSpec& s) { s.extraEntries = [](ZipBuilder& z) { z.Add("extra", "x"); }; },
         "entry not in the manifest: extra"},
        {"listed file missing",
         [](PackageSpec& s) {
             s.editManifest = [](std::string& m) {
                 auto j = nlohmann::json::parse(m);
                 j["gone.dll"] = Digest("gone");
                 m = j.dump();
             };
         },
         "listed file missing: gone.dll"},
        {"upper-case digest",
         [](PackageSpec& s) {
             s.editManifest = [](std::string& m) {
                 auto j = nlohmann::json::parse(m);
                 std::string d = j["host.exe"];
                 for (char& c : d) c = static_cast<char>(toupper(c));
                 j["host.exe"] = d;
                 m = j.dump();
             };
         },
         "digest mismatch: host.exe"},
        {"digest not a string",
         [](PackageSpec& s) {
             s.editManifest = [](std::string& m) {
                 auto j = nlohmann::json::parse(m);
                 j["host.exe"] = 5;
                 m = j.dump();
             };
         },
         "no digest for host.exe"},
        {"manifest is an array", [](PackageSpec& s) { s.editManifest = [](std::string& m) { m = "[1]"; }; },
         "manifest is not a JSON object"},
        {"manifest lists the signature",
         [](PackageSpec& s) {
             s.editManifest = [](std::string& m) {
                 auto j = nlohmann::json::parse(m);
                 j["_manifest.sig"] = Digest("x");
                 m = j.dump();
             };
         },
         "manifest lists itself or the signature"},
        {"escaping entry listed and signed",
         [](PackageSpec& s) { s.files.push_back({"..\\evil.exe", "x"}); }, "unsafe entry name"},
        {"drive entry listed and signed", [](PackageSpec& s) { s.files.push_back({"C:evil.exe", "x"}); },
         "unsafe entry name"},
        {"one file twice in different case",
         [](PackageSpec& s) { s.files.push_back({"HOST.EXE", "MZ new program"}); }, "one file named twice: host.exe"},
        {"one file twice behind a trailing dot",
         [](PackageSpec& s) { s.files.push_back({"host.exe.", "MZ other program"}); }, "unsafe entry name"},
        {"one entry twice under one name",
         [](PackageSpec& s) { s.extraEntries = [](ZipBuilder& z) { z.Add("data/info.txt", "hello"); }; },
         "entry twice: data/info.txt"},
        {"empty manifest ahead of the signed one",
         [](PackageSpec& s) { s.leadingEntries = [](ZipBuilder& z) { z.Add("_manifest.json", ""); }; },
         "manifest or signature twice"},
        {"manifest beyond its cap, signed",
         [](PackageSpec& s) { s.editManifest = [](std::string& m) { m += std::string(sv::kMaxManifestBytes, ' '); }; },
         "manifest or signature too large"},
        {"second signature entry",
         [](PackageSpec& s) { s.extraEntries = [](ZipBuilder& z) { z.Add("_manifest.sig", "AAAA"); }; },
         "manifest or signature twice"},
    };
    TestSigner signer;
    for (const Case& c : cases) {
        PackageSpec spec;
        c.change(spec);
        std::vector<sv::PackageFile> files;
        std::string error;
        EXPECT_FALSE(sv::ReadVerifiedPackage(MakePackage(signer, spec), signer.PublicKeyBase64(), files, error))
            << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_TRUE(files.empty()) << c.name;
    }
}

TEST(UpdateStaging, AVerifiedPackageReplacesTheStagingFolder) {
    TestSigner signer;
    sv_test::ScratchDir dir;
    const std::string staging = dir.Path() + "\\update-staging";
    ASSERT_TRUE(sv::WriteTextFile(staging + "\\left-over.txt", "old"));
    PackageSpec spec;
    spec.files.push_back({"sub\\deep\\c.bin", std::string("\0\1\2", 3)});
    ASSERT_TRUE(sv::UnpackVerifiedUpdate(MakePackage(signer, spec), staging, signer.PublicKeyBase64()));
    EXPECT_EQ(sv_test::ReadFile(staging + "\\host.exe"), "MZ new program");
    EXPECT_EQ(sv_test::ReadFile(staging + "\\data\\info.txt"), "hello");
    EXPECT_EQ(sv_test::ReadFile(staging + "\\sub\\deep\\c.bin"), std::string("\0\1\2", 3));
    EXPECT_FALSE(sv::PathExists(staging + "\\left-over.txt"));
    // The manifest and its signature stay with the files: the installer verifies them again.
    sv::UpdateManifest listed;
    std::string error;
    ASSERT_TRUE(sv::ReadStagedManifest(staging, signer.PublicKeyBase64(), listed, error)) << error;
    EXPECT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed["host.exe"], Digest("MZ new program"));

    // A refused package does not touch what is staged.
    PackageSpec bad;
    bad.sign = false;
    EXPECT_FALSE(sv::UnpackVerifiedUpdate(MakePackage(signer, bad), staging, signer.PublicKeyBase64()));
    EXPECT_TRUE(sv::PathExists(staging + "\\host.exe"));
}

TEST(UpdateStaging, AFailedWriteLeavesNoStagingFolder) {
    TestSigner signer;
    sv_test::ScratchDir dir;
    const std::string staging = dir.Path() + "\\update-staging";
    // "data" exists as a file where the package needs a folder: the write of data/info.txt fails.
    PackageSpec spec;
    spec.files = {{"a.txt", "first"}, {"data", "a file"}, {"data/info.txt", "hello"}};
    EXPECT_FALSE(sv::UnpackVerifiedUpdate(MakePackage(signer, spec), staging, signer.PublicKeyBase64()));
    EXPECT_FALSE(sv::PathExists(staging));
}

}  // namespace
