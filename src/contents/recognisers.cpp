/* The recognisers in probing order, and the look for a magic. */
#include "recognisers.h"

#include <cstring>

const Recogniser *const kRecognisers[] = {
    &kAkaiRecogniser,   &kEmu3Recogniser, &kRolandRecogniser, &kEnsoniqRecogniser,   &kYamahaRecogniser,
    &kIso9660Recogniser, &kMbrRecogniser, &kFatRecogniser,    &kAkaiS900Recogniser,
};
const size_t kRecogniserCount = sizeof kRecognisers / sizeof kRecognisers[0];

bool magicPresent(const Source &source, const Magic &magic)
{
    if (!magic.bytes)
        return true;
    uint8_t bytes[16];
    return magic.length <= sizeof bytes && readBytes(source, magic.offset, bytes, magic.length) &&
           std::memcmp(bytes, magic.bytes, magic.length) == 0;
}
