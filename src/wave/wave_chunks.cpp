// The chunk walk: every chunk after the RIFF header, with what is odd about
// its size, padding and place said as it is found.

#include "wave/wave_chunks.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "wave/wave_fmt_chunk.h"
#include "wave/wave_format.h"

namespace {

// A chunk id is four printable ASCII characters.
bool PlausibleId(const unsigned char* id)
{
    for (int i = 0; i < 4; ++i)
        if (id[i] < 32 || id[i] > 126) return false;
    return true;
}

std::string IdText(const unsigned char* id)
{
    if (!PlausibleId(id)) return "(not text)";
    std::string text(6, '\'');
    text.replace(1, 4, reinterpret_cast<const char*>(id), 4);
    return text;
}

// Chunks read and skipped without a word: the usual metadata of WAVE writers.
bool KnownChunk(const unsigned char* id)
{
    static const char* const known[] = {"LIST", "JUNK", "PAD ", "PEAK", "bext", "cue ",
                                        "smpl", "inst", "iXML", "id3 ", "ID3 ", "acid",
                                        "cart", "plst", "labl", "note", "ltxt", "fake"};
    for (const char* k : known)
        if (std::memcmp(id, k, 4) == 0) return true;
    return false;
}

}  // namespace

bool WaveReadAt(std::ifstream& file, uint64_t offset, unsigned char* out, size_t size)
{
    file.clear();
    file.seekg(std::streamoff(offset));
    if (!file) return false;
    file.read(reinterpret_cast<char*>(out), std::streamsize(size));
    return size_t(file.gcount()) == size;
}

namespace {

// The data chunk at pos, its body of `left` bytes to the end of the file.
void NoteData(WaveInfo& info, WaveChunks& found, uint64_t pos, uint32_t size, uint64_t left)
{
    if (found.haveData) {
        info.problems.push_back("a second data chunk at offset " + std::to_string(pos) + " is left out");
        return;
    }
    found.haveData = true;
    info.dataSizeField = size;
    found.dataStart = pos + 8;
    if ((size == 0 && left > 0) || size == WAVE_SIZE_UNKNOWN) {
        found.dataToEnd = true;
        found.dataLength = left;
        info.problems.push_back("the data size is " + std::string(size ? "0xFFFFFFFF" : "0") +
                                ", as a stream or an unfinished file leaves it: the " + std::to_string(left) +
                                " bytes to the end of the file are read");
    } else if (size > left) {
        found.dataLength = left;
        info.problems.push_back("the data chunk says " + std::to_string(size) + " bytes but " +
                                std::to_string(left) + " are there: the file was cut short");
    } else {
        found.dataLength = size;
    }
}

// Where the chunk after one whose body ends at `end` starts: RIFF pads odd
// chunks to an even length; some writers forget.
uint64_t NextChunk(WaveReader& reader, const unsigned char* id, uint32_t size, uint64_t end)
{
    WaveInfo& info = reader.info;
    if (size % 2 == 0) return end;
    unsigned char next[4];
    const bool padded =
        end + 4 < info.fileBytes && WaveReadAt(reader.file, end + 1, next, 4) && PlausibleId(next);
    const bool unpadded =
        end + 4 <= info.fileBytes && WaveReadAt(reader.file, end, next, 4) && PlausibleId(next);
    if (!padded && unpadded) {
        info.problems.push_back("the chunk " + IdText(id) + " of odd size " + std::to_string(size) +
                                " has no pad byte");
        return end;
    }
    return end + 1;
}

}  // namespace

WaveChunks WaveWalkChunks(WaveReader& reader, uint64_t riffEnd)
{
    WaveInfo& info = reader.info;
    WaveChunks found;
    uint64_t pos = WAVE_RIFF_HEADER_BYTES;
    while (pos + 8 <= info.fileBytes) {
        unsigned char ch[8];
        if (!WaveReadAt(reader.file, pos, ch, 8)) break;
        const uint32_t size = WaveGet32(ch + 4);
        if (!PlausibleId(ch)) {
            info.problems.push_back(std::to_string(info.fileBytes - pos) + " bytes at offset " +
                                    std::to_string(pos) + " are not a chunk and are left out");
            break;
        }
        const uint64_t body = pos + 8;
        const uint64_t left = info.fileBytes - body;
        if (std::memcmp(ch, "data", 4) == 0) {
            NoteData(info, found, pos, size, left);
            if (found.dataToEnd || size >= left) break;
        } else if (std::memcmp(ch, "fmt ", 4) == 0 && !found.haveFormat) {
            unsigned char f[40] = {};
            const uint32_t take = uint32_t(std::min<uint64_t>({size, sizeof f, left}));
            if (!WaveReadAt(reader.file, body, f, take)) break;
            found.haveFormat = true;
            found.formatResult = WaveParseFormat(f, std::min<uint32_t>(size, take), info);
        } else if (std::memcmp(ch, "fact", 4) == 0 && size >= 4 && left >= 4) {
            unsigned char v[4];
            if (WaveReadAt(reader.file, body, v, 4)) {
                info.hasFact = true;
                info.factValue = WaveGet32(v);
            }
        } else if (!KnownChunk(ch)) {
            info.problems.push_back("an unknown chunk " + IdText(ch) + " of " + std::to_string(size) +
                                    " bytes at offset " + std::to_string(pos) + " is skipped");
        }
        if (size > left) {
            info.problems.push_back("the chunk " + IdText(ch) + " at offset " + std::to_string(pos) +
                                    " runs " + std::to_string(size - left) +
                                    " bytes past the end of the file");
            break;
        }
        pos = NextChunk(reader, ch, size, body + size);
        if (found.haveData && pos >= riffEnd && riffEnd >= WAVE_RIFF_HEADER_BYTES && pos < info.fileBytes &&
            info.riffSize != 0 && info.riffSize != WAVE_SIZE_UNKNOWN) {
            info.problems.push_back(std::to_string(info.fileBytes - pos) +
                                    " bytes follow the RIFF chunk and are left out");
            break;
        }
    }
    if (pos + 8 > info.fileBytes && pos < info.fileBytes && !found.dataToEnd &&
        !(found.haveData && found.dataStart + found.dataLength >= info.fileBytes))
        info.problems.push_back(std::to_string(info.fileBytes - pos) +
                                " bytes at the end are too few for a chunk and are left out");
    return found;
}
