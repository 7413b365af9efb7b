#include "job/generation_worker.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "job/pack.h"
#include "synth/tone.h"
#include "wave/wave_writer.h"

namespace {

constexpr uint32_t HEADER_BYTES = 140;

uint32_t ReadLe32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The writer's finish reports no error, so read the header back: its sizes
// must agree with the file on disk and the fact value with the blocks counted.
bool FinishedFileIsValid(const char* path, int32_t bitWidth, uint32_t dataBytes)
{
    std::error_code ec;
    const uintmax_t length = std::filesystem::file_size(path, ec);
    if (ec || length < HEADER_BYTES || length - 8 > 0xFFFFFFFFu) return false;
    unsigned char header[HEADER_BYTES];
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    const size_t got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    if (got != sizeof header) return false;
    return ReadLe32(header + 4) == length - 8
        && ReadLe32(header + 136) == length - HEADER_BYTES
        && ReadLe32(header + 128) == dataBytes / uint32_t(bitWidth / 8);
}

// The per-block buffers, made once per job and reused for every block.
struct JobBuffers {
    int32_t primary[BLOCK_FRAMES];
    int32_t secondary[BLOCK_FRAMES];
    uint8_t output[4096];
};

}  // namespace

JobEnd GenerationWorker(const ToneRequest& shared, std::atomic<bool>& busy, JobHost& host)
{
    // The starter may change its request while the job runs; this job keeps
    // the values it started with.
    const ToneRequest request = shared;
    const int32_t bitWidth = request.nBitWidth;

    uint32_t blocks = RequestBlocks(request);
    host.SetProgressRange(blocks + 1);
    host.SetProgressPos(0);

    JobBuffers buffers{};
    DitherRandom random;  // every job draws the same dither sequence

    const auto end = [&](JobEnd how) {
        busy.store(false);
        host.JobEnded();
        return how;
    };

    std::unique_ptr<ToneGenerator> generator(new (std::nothrow) ToneGenerator);
    if (!generator) {
        host.ShowMessage(MESSAGE_CREATE_FAILED, CAPTION_CREATE);
        return end(JobEnd::CreateFailed);
    }
    ToneGenerator& g = *generator;
    TonePlan(g, request.nAttenuation, bitWidth, double(request.nSampleRate), request.Frequency,
             double(request.nSeconds));
    // A refused plan has no defined samples: make no file at all.
    if (!g.planned) {
        host.ShowMessage(MESSAGE_TOO_SHORT, CAPTION_CREATE);
        return end(JobEnd::PlanRefused);
    }
    // A tone that planning made longer than the request must not lose its
    // fade-out: that would leave a click and a non-zero sum.
    if (g.blockCount > blocks) {
        blocks = g.blockCount;
        host.SetProgressRange(blocks + 1);
    }

    if (!WaveCreate(bitWidth, request.szPath, request.nSampleRate)) {
        host.ShowMessage(MESSAGE_CREATE_FAILED, CAPTION_CREATE);
        return end(JobEnd::CreateFailed);
    }

    bool writeFailed = false;
    uint32_t dataBytes = 0;
    for (uint32_t k = 0; k < blocks; ++k) {
        ToneRenderBlock(g, buffers.primary, bitWidth == 24 ? nullptr : buffers.secondary);
        if (bitWidth == 16) DitherBlock(buffers.primary, buffers.secondary, random);
        const uint32_t size = PackBlock(bitWidth, buffers.primary, buffers.secondary, buffers.output);
        int32_t written = 0;
        if (WaveWriteBlock(buffers.output, int32_t(size), &written) == 0 && uint32_t(written) == size) {
            WaveAddDataBytes(size);
            dataBytes += size;
        } else {
            // Close at once so the file keeps the blocks written before.
            WaveFinish();
            writeFailed = true;
        }
        host.SetProgressPos(k);
        if (!busy.load()) {
            // Stop request: the file is finished, the starter's state is left alone.
            WaveFinish();
            if (writeFailed || !FinishedFileIsValid(request.szPath, bitWidth, dataBytes)) {
                host.ShowMessage(MESSAGE_WRITE_FAILED, CAPTION_CREATE);
                return JobEnd::WriteFailed;
            }
            return JobEnd::Stopped;
        }
        if (writeFailed) break;
    }

    WaveFinish();
    const bool finished = !writeFailed && FinishedFileIsValid(request.szPath, bitWidth, dataBytes);
    host.SetProgressPos(blocks + 1);
    if (!finished) {
        host.ShowMessage(MESSAGE_WRITE_FAILED, CAPTION_CREATE);
        return end(JobEnd::WriteFailed);
    }
    return end(JobEnd::Done);
}

void JobStartFailed(std::atomic<bool>& busy, JobHost& host)
{
    host.ShowMessage(MESSAGE_CREATE_FAILED, CAPTION_CREATE);
    busy.store(false);
    host.JobEnded();
}
