// The manifests that describe the setup to Windows' package manager: the version file, the
// default locale (Turkish) and the installer, in the multi-file layout of schema 1.28.0.

#include "tools/yayin/yayin.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "release/digest.h"

namespace {

const char kSchemaVersion[] = "1.28.0";
const char kIdentifier[] = "TekvarYazilim.Talvor";
const char kHomePage[] = "https://www.tekvar.com.tr/talvor/";

// A YAML double-quoted scalar; the values are our own texts, a version and a URL that was
// checked for control characters.
std::string Quoted(const std::string &text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Header(const char *type)
{
    return std::string("# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + type + "." +
           kSchemaVersion + ".schema.json\n\n";
}

std::string Footer(const char *type)
{
    return std::string("ManifestType: ") + type + "\nManifestVersion: " + kSchemaVersion + "\n";
}

std::string VersionManifest(const std::string &version)
{
    return Header("version") + "PackageIdentifier: " + kIdentifier + "\nPackageVersion: " + Quoted(version) +
           "\nDefaultLocale: tr-TR\n" + Footer("version");
}

std::string LocaleManifest(const std::string &version)
{
    return Header("defaultLocale") + "PackageIdentifier: " + kIdentifier + "\nPackageVersion: " + Quoted(version) +
           "\nPackageLocale: tr-TR\n"
           "Publisher: \"Tekvar Yazılım\"\n"
           "PublisherUrl: " + Quoted(kHomePage) + "\n"
           "PackageName: Talvor\n"
           "PackageUrl: " + Quoted(kHomePage) + "\n"
           "License: \"Tescilli\"\n"
           "ShortDescription: \"Tekvar Yazılım'ın Windows için ağ ürünü.\"\n"
           "Moniker: talvor\n" +
           Footer("defaultLocale");
}

// The setup's exit codes: 0 is success to the package manager already; 1 is a failure during
// the work, whose cause only the setup's log tells; 2 under the package manager's own command
// line (silent, no pages to decline, no bad switch) means another setup or removal is running.
std::string InstallerManifest(const std::string &version, const std::string &url, const std::string &sha256)
{
    return Header("installer") + "PackageIdentifier: " + kIdentifier + "\nPackageVersion: " + Quoted(version) +
           "\nPlatform:\n- Windows.Desktop\n"
           "MinimumOSVersion: 10.0.0.0\n"
           "InstallerType: exe\n"
           "Scope: machine\n"
           "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n"
           "InstallerSwitches:\n"
           "  Silent: /sessiz\n"
           "  SilentWithProgress: /sessiz\n"
           "ExpectedReturnCodes:\n"
           "- InstallerReturnCode: 1\n"
           "  ReturnResponse: contactSupport\n"
           "  ReturnResponseUrl: " + Quoted(kHomePage) + "\n"
           "- InstallerReturnCode: 2\n"
           "  ReturnResponse: installInProgress\n"
           "UpgradeBehavior: install\n"
           "ProductCode: Talvor\n"
           "AppsAndFeaturesEntries:\n"
           "- DisplayName: Talvor\n"
           "  Publisher: \"Tekvar Yazılım\"\n"
           "  DisplayVersion: " + Quoted(version) + "\n"
           "  ProductCode: Talvor\n"
           "  InstallerType: exe\n"
           "ElevationRequirement: elevationRequired\n"
           "InstallationMetadata:\n"
           "  DefaultInstallLocation: \"%ProgramFiles%\\\\Talvor\"\n"
           "Installers:\n"
           "- Architecture: x64\n"
           "  InstallerUrl: " + Quoted(url) + "\n"
           "  InstallerSha256: " + Quoted(sha256) + "\n" +
           Footer("installer");
}

} // namespace

bool IsInstallerUrl(const char *url)
{
    size_t length = strlen(url);
    if (strncmp(url, "https://", 8) != 0 || length <= 8 || length > 2048)
        return false;
    for (const char *p = url; *p != 0; p++) {
        if ((unsigned char)*p <= 0x20 || *p == 0x7f || *p == '"' || *p == '\\')
            return false;
    }
    return true;
}

Status WritePackageManagerManifests(const char *setup_path, const char *version, const char *url,
                                    const char *folder)
{
    std::vector<uint8_t> setup;
    Status status = LoadFile(setup_path, kSetupMaxSize, &setup);
    if (status != StatusOk)
        return status;
    uint8_t digest[32];
    if (Sha256Buffer(setup.data(), (uint32_t)setup.size(), digest) != StatusOk) {
        PrintError("SHA-256 hesaplanamıyor");
        return StatusIoError;
    }
    if (mkdir(folder, 0755) != 0 && errno != EEXIST) {
        PrintError("%s oluşturulamıyor: %s", folder, strerror(errno));
        return StatusIoError;
    }
    std::string sha256 = HexDigest(digest);
    for (char &c : sha256)
        c = (char)toupper((unsigned char)c);
    const struct {
        const char *suffix;
        std::string text;
    } files[] = {
        {".yaml", VersionManifest(version)},
        {".locale.tr-TR.yaml", LocaleManifest(version)},
        {".installer.yaml", InstallerManifest(version, url, sha256)},
    };
    for (const auto &file : files) {
        std::string path = std::string(folder) + "/" + kIdentifier + file.suffix;
        status = WriteFileAtomically(path.c_str(), file.text.data(), file.text.size(), 0644, true);
        if (status != StatusOk)
            return status;
        printf("yazildi=%s\n", path.c_str());
    }
    return StatusOk;
}
