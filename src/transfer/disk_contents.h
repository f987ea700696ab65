/*
 * What a device or an image file holds (src/contents), read the program's way: a device through
 * READ(10) requests of the SCSI layer, an image file with plain reads. Both only read. The
 * description comes out in the user's language, from the string table.
 */
#ifndef KESTROVA_DISK_CONTENTS_H
#define KESTROVA_DISK_CONTENTS_H

#include <cstdint>
#include <string>
#include "aspi.h"
#include "contents.h"

/* The device at adapter and target as the device table of the last scan describes it. A read
   that fails gives "unknown", with the failure's status; a device of 0 sectors is not read. */
DiskContents probeDevice(SendASPI32CommandFn sendCommand, int adapter, int target);

/* The image file at path, its first limitBytes only when limitBytes >= 0. false when it cannot
   be opened. */
bool probeImageFile(const char *path, int64_t limitBytes, DiskContents &contents);

/* The description's lines in the user's language, each starting with indent. */
std::string describeContents(const DiskContents &contents, const char *indent, const char *lineEnd);

/* The sectors of sectorSize that a copy needs to take every file system whole: 0 when nothing
   was recognised; at most INT32_MAX. */
int32_t sectorsInUse(const DiskContents &contents, int32_t sectorSize);

/* "an Akai S3000" as the questions put it: the article in the user's language, then the name. */
std::string articleAndName(const FileSystem &fs);

#endif
