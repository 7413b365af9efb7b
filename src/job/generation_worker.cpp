#include "job/generation_worker.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "job/batch_writer.h"
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

    // Blocks are packed straight into the writer's runs; the writes overlap
    // the making of the next blocks.
    std::optional<BatchWriter> output(std::in_place);
    for (uint32_t k = 0; k < blocks; ++k) {
        ToneRenderBlock(g, buffers.primary, bitWidth == 24 ? nullptr : buffers.secondary);
        if (bitWidth == 16) DitherBlock(buffers.primary, buffers.secondary, random);
        output->Commit(PackBlock(bitWidth, buffers.primary, buffers.secondary, output->NextBlock()));
        host.SetProgressPos(k);
        if (!busy.load()) {
            // Stop request: the file gets every block made so far and is
            // finished; the starter's state is left alone.
            output->Drain();
            const bool failed = output->Failed();
            const uint32_t dataBytes = output->BytesWritten();
            output.reset();
            WaveFinish();
            if (failed || !FinishedFileIsValid(request.szPath, bitWidth, dataBytes)) {
                host.ShowMessage(MESSAGE_WRITE_FAILED, CAPTION_CREATE);
                return JobEnd::WriteFailed;
            }
            return JobEnd::Stopped;
        }
        // A failed write ends the job; the file keeps the whole blocks before it.
        if (output->Failed()) break;
    }

    output->Drain();
    const bool writeFailed = output->Failed();
    const uint32_t dataBytes = output->BytesWritten();
    output.reset();
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
