#include "job/generation_worker.h"

#include <memory>
#include <new>

#include "job/batch_writer.h"
#include "job/tone_blocks.h"
#include "wave/wave_format.h"

namespace {

// Everything committed goes to the file, then the file is finished; false
// when any of it failed.
bool FinishFile(BatchWriter& output, WaveWriter& writer)
{
    const bool written = output.Drain();
    return WaveFinish(writer) == 0 && written;
}

}  // namespace

JobResult GenerationWorker(const ToneRequest& shared, std::atomic<bool>& busy, JobHost& host, const WaveIo& io)
{
    // The starter may change its request while the job runs; this job keeps
    // the values it started with.
    const ToneRequest request = shared;
    JobResult result;

    uint32_t blocks = RequestBlocks(request);
    host.SetProgressRange(blocks + 1);
    host.SetProgressPos(0);

    // Every ending but a stop hands "Create file" back; a stop leaves the
    // starter's state alone.
    const auto end = [&](JobEnd how, const char* message = nullptr) {
        if (message) host.ShowMessage(message, CAPTION_CREATE);
        result.end = how;
        if (how != JobEnd::Stopped) {
            busy.store(false);
            host.JobEnded();
        }
        return result;
    };

    // The job's memory is taken before the file exists, so that a lack of
    // it leaves no file behind.
    std::unique_ptr<ToneBlocks> tone(new (std::nothrow) ToneBlocks);
    if (!tone) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);
    if (!ToneBlocksPlan(*tone, request, &busy)) {
        // Stopped while planning: nothing was made, nothing to report.
        if (!busy.load()) return end(JobEnd::Stopped);
        // A refused plan has no defined samples: make no file at all.
        return end(JobEnd::PlanRefused, MESSAGE_TOO_SHORT);
    }
    if (tone->blocks > blocks) {
        blocks = tone->blocks;
        host.SetProgressRange(blocks + 1);
    }
    WaveWriter writer;
    writer.io = io;
    std::unique_ptr<BatchWriter> output(new (std::nothrow) BatchWriter(writer));
    if (!output || !output->Ready()) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);

    result.plannedBytes = blocks * WaveBytesPerBlock(request.nBitWidth);
    if (!WaveCreate(writer, request.nBitWidth, request.path.c_str(), request.nSampleRate, result.plannedBytes))
        return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);
    result.created = true;
    result.stream = writer.stream;
    const char* failed = writer.stream ? MESSAGE_STREAM_FAILED : MESSAGE_WRITE_FAILED;

    // Blocks are packed straight into the writer's runs; the writes overlap
    // the making of the next blocks.
    for (uint32_t k = 0; k < blocks; ++k) {
        output->Commit(ToneBlocksNext(*tone, output->NextBlock()));
        host.SetProgressPos(k);
        if (!busy.load()) {
            // Stop request: the file gets every block made so far and is finished.
            const bool finished = FinishFile(*output, writer);
            result.dataBytes = writer.dataBytes;
            if (!finished) host.ShowMessage(failed, CAPTION_CREATE);
            result.end = finished ? JobEnd::Stopped : JobEnd::WriteFailed;
            return result;
        }
        // A failed write ends the job; the file keeps the whole blocks before it.
        if (output->Failed()) break;
    }
    const bool finished = FinishFile(*output, writer);
    result.dataBytes = writer.dataBytes;
    host.SetProgressPos(blocks + 1);
    return finished ? end(JobEnd::Done) : end(JobEnd::WriteFailed, failed);
}

void JobStartFailed(std::atomic<bool>& busy, JobHost& host)
{
    host.ShowMessage(MESSAGE_CREATE_FAILED, CAPTION_CREATE);
    busy.store(false);
    host.JobEnded();
}
