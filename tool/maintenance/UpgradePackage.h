// Reading an upgrade package: a zip or tar archive that carries a small
// "upinfo.txt" describing it. Finds and parses that text and reads the whole
// package into the request that the upgrade command sends.
//
// Every size in an archive is checked against the file before anything is
// read or allocated on it: a tar whose size field lies, a truncated archive
// or a corrupt zip entry is reported as damaged, never read past its end.
#pragma once

#include <cstdint>
#include <string>

#include "maintenance/MaintenanceProtocol.h"
#include "maintenance/UpInfo.h"

enum class PackageKind { Zip, Tar, Unsupported };

// By the text after the last "." of the path (the whole path when it has
// none), in small letters: "zip" or "tar".
PackageKind packageKindOf(const std::string& path);

enum class MemberSearch { Found, NotFound, Damaged };

// The largest "upinfo.txt" that is read; a bigger one marks a damaged package.
constexpr size_t kMaxUpinfoBytes = 1 << 20;

// Looks for the regular member named exactly name in a tar archive and reads
// its text (up to its first NUL). The magic field is not examined; members of
// other types are skipped. A file that ends where a header would start, or a
// header block of zeros, ends the search without a find.
MemberSearch findTarMember(const std::string& path, const std::string& name, std::string& text);

// The first zip entry whose name contains "upinfo.txt" anywhere (so one in a
// sub-folder matches), its text up to its first NUL. An archive that cannot be
// opened or whose entry fails to extract whole (size, CRC) is Damaged.
MemberSearch findZipUpinfo(const std::string& path, std::string& text);

// A zip entry's name as it is matched: drive prefix, leading slashes and
// backslashes and every path part up to a ".." part removed, at most 260 bytes.
std::string normaliseZipEntryName(const std::string& raw);

// Parses "upinfo.txt" into info and traces it. Each key is searched from the
// start of the whole text; its value starts one character after the key
// (whatever that character is), runs to the next CR or the end of the text,
// and has every space removed. A missing key stores an empty text or 0.
void parseUpinfo(const std::string& text, UpInfo& info);

enum class PackageRead { Ok, CannotOpen, TooLarge, ReadFailed };

// Reads the whole package file into request after kUpgradeHeaderSize bytes of
// room for the code and the record, and stores its size in info.filesize.
// Packages of 2 GiB and more cannot be described by the record's int32 size.
PackageRead readPackage(const std::string& path, Request& request, UpInfo& info);
