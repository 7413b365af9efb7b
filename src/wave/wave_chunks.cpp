// The chunk walk: every chunk after the RIFF header, with what is odd about
// its size, padding and place said as it is found.

#include "wave/wave_chunks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "wave/wave_fmt_chunk.h"
#include "wave/wave_format.h"

namespace {

// The bytes read at a time: a file of many small chunks costs one read for
// each of these, not one per chunk.
constexpr size_t WINDOW_BYTES = 64 * 1024;

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

// 1599990 as "1,599,990".
std::string Thousands(uint64_t n)
{
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

// A kind of problem that a file can repeat without bound: the first few
// lines are kept, the rest counted.
struct Repeated {
    const char* plural;
    uint64_t count = 0;

    // Whether this one is told; its line is made only then.
    bool Tell() { return count++ < WAVE_PROBLEMS_KEPT; }
    void Close(WaveInfo& info) const
    {
        if (count > WAVE_PROBLEMS_KEPT)
            info.problems.push_back("and " + Thousands(count - WAVE_PROBLEMS_KEPT) + " more " + plural);
    }
};

// The file's bytes through one buffer: At(pos, size) is null when they are
// not all in the file.
class Window {
public:
    explicit Window(WaveReader& reader) : reader(reader), bytes(WINDOW_BYTES) {}

    const unsigned char* At(uint64_t pos, size_t size)
    {
        if (size > bytes.size() || pos > reader.info.fileBytes || size > reader.info.fileBytes - pos)
            return nullptr;
        if (pos < start || pos + size > start + length) {
            start = pos;
            length = reader.source->ReadAt(
                pos, bytes.data(), size_t(std::min<uint64_t>(bytes.size(), reader.info.fileBytes - pos)));
        }
        return pos + size <= start + length ? bytes.data() + (pos - start) : nullptr;
    }

private:
    WaveReader& reader;
    std::vector<unsigned char> bytes;
    uint64_t start = 0;
    size_t length = 0;
};

// The data chunk at pos, its body of `left` bytes to the end of the file.
void NoteData(WaveInfo& info, WaveChunks& found, Repeated& extra, uint64_t pos, uint32_t size, uint64_t left)
{
    if (found.haveData) {
        if (extra.Tell())
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

// Whether a chunk starts at pos: a plausible id and a body that fits in the
// file (a data chunk may run past it: a file cut short).
bool ChunkAt(Window& window, uint64_t fileBytes, uint64_t pos)
{
    const unsigned char* ch = window.At(pos, 8);
    if (!ch || !PlausibleId(ch)) return false;
    return std::memcmp(ch, "data", 4) == 0 || WaveGet32(ch + 4) <= fileBytes - pos - 8;
}

// Where the chunk after one whose body ends at `end` starts: RIFF pads odd
// chunks to an even length; many writers leave the pad byte out. Where
// only the place without it holds a chunk, the chunk is read there.
uint64_t NextChunk(Window& window, WaveInfo& info, Repeated& unpadded, const unsigned char* id, uint32_t size,
                   uint64_t end)
{
    if (size % 2 == 0) return end;
    if (ChunkAt(window, info.fileBytes, end + 1) || !ChunkAt(window, info.fileBytes, end)) return end + 1;
    if (unpadded.Tell())
        info.problems.push_back("the chunk " + IdText(id) + " of odd size " + std::to_string(size) +
                                " has no pad byte: the next chunk is read where it starts");
    return end;
}

}  // namespace

WaveChunks WaveWalkChunks(WaveReader& reader, uint64_t riffEnd)
{
    WaveInfo& info = reader.info;
    WaveChunks found;
    Window window(reader);
    Repeated unknown{"unknown chunks"}, extraData{"data chunks left out"},
        unpadded{"chunks without a pad byte"};
    uint64_t pos = WAVE_RIFF_HEADER_BYTES;
    while (pos + 8 <= info.fileBytes && !reader.source->Stopped()) {
        const unsigned char* at = window.At(pos, 8);
        if (!at) break;
        unsigned char ch[8];
        std::memcpy(ch, at, 8);
        const uint32_t size = WaveGet32(ch + 4);
        if (!PlausibleId(ch)) {
            info.problems.push_back(std::to_string(info.fileBytes - pos) + " bytes at offset " +
                                    std::to_string(pos) + " are not a chunk and are left out");
            break;
        }
        const uint64_t body = pos + 8;
        const uint64_t left = info.fileBytes - body;
        if (std::memcmp(ch, "data", 4) == 0) {
            NoteData(info, found, extraData, pos, size, left);
            if (found.dataToEnd || size >= left) break;
        } else if (std::memcmp(ch, "fmt ", 4) == 0 && !found.haveFormat) {
            unsigned char f[40] = {};
            const uint32_t take = uint32_t(std::min<uint64_t>({size, sizeof f, left}));
            const unsigned char* bytes = window.At(body, take);
            if (!bytes) break;
            std::memcpy(f, bytes, take);
            found.haveFormat = true;
            found.formatResult = WaveParseFormat(f, std::min<uint32_t>(size, take), info);
        } else if (std::memcmp(ch, "fact", 4) == 0 && size >= 4 && left >= 4) {
            if (const unsigned char* v = window.At(body, 4)) {
                info.hasFact = true;
                info.factValue = WaveGet32(v);
            }
        } else if (!KnownChunk(ch)) {
            if (unknown.Tell())
                info.problems.push_back("an unknown chunk " + IdText(ch) + " of " + std::to_string(size) +
                                        " bytes at offset " + std::to_string(pos) + " is skipped");
        }
        if (size > left) {
            info.problems.push_back("the chunk " + IdText(ch) + " at offset " + std::to_string(pos) +
                                    " runs " + std::to_string(size - left) +
                                    " bytes past the end of the file");
            break;
        }
        pos = NextChunk(window, info, unpadded, ch, size, body + size);
        if (found.haveData && pos >= riffEnd && riffEnd >= WAVE_RIFF_HEADER_BYTES && pos < info.fileBytes &&
            info.riffSize != 0 && info.riffSize != WAVE_SIZE_UNKNOWN) {
            info.problems.push_back(std::to_string(info.fileBytes - pos) +
                                    " bytes follow the RIFF chunk and are left out");
            break;
        }
    }
    for (const Repeated* kind : {&unknown, &extraData, &unpadded})
        kind->Close(info);
    if (pos + 8 > info.fileBytes && pos < info.fileBytes && !found.dataToEnd &&
        !(found.haveData && found.dataStart + found.dataLength >= info.fileBytes))
        info.problems.push_back(std::to_string(info.fileBytes - pos) +
                                " bytes at the end are too few for a chunk and are left out");
    return found;
}
