#include "job/generation_worker.h"

#include <memory>
#include <new>

#include "job/batch_writer.h"
#include "job/tone_blocks.h"

namespace {

// Everything committed goes to the file, then the file is finished; false
// when any of it failed.
bool FinishFile(BatchWriter& output, WaveWriter& writer)
{
    const bool written = output.Drain();
    return WaveFinish(writer) == 0 && written;
}

}  // namespace

JobEnd GenerationWorker(const ToneRequest& shared, std::atomic<bool>& busy, JobHost& host,
                        const WaveBlockWrite& write)
{
    // The starter may change its request while the job runs; this job keeps
    // the values it started with.
    const ToneRequest request = shared;

    uint32_t blocks = RequestBlocks(request);
    host.SetProgressRange(blocks + 1);
    host.SetProgressPos(0);

    const auto end = [&](JobEnd how, const char* message = nullptr) {
        if (message) host.ShowMessage(message, CAPTION_CREATE);
        busy.store(false);
        host.JobEnded();
        return how;
    };

    // The job's memory is taken before the file exists, so that a lack of
    // it leaves no file behind.
    std::unique_ptr<ToneBlocks> tone(new (std::nothrow) ToneBlocks);
    if (!tone) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);
    // A refused plan has no defined samples: make no file at all.
    if (!ToneBlocksPlan(*tone, request)) return end(JobEnd::PlanRefused, MESSAGE_TOO_SHORT);
    if (tone->blocks > blocks) {
        blocks = tone->blocks;
        host.SetProgressRange(blocks + 1);
    }
    WaveWriter writer;
    writer.writeBlock = write;
    std::unique_ptr<BatchWriter> output(new (std::nothrow) BatchWriter(writer));
    if (!output || !output->Ready()) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);

    if (!WaveCreate(writer, request.nBitWidth, request.szPath, request.nSampleRate))
        return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);

    // Blocks are packed straight into the writer's runs; the writes overlap
    // the making of the next blocks.
    for (uint32_t k = 0; k < blocks; ++k) {
        output->Commit(ToneBlocksNext(*tone, output->NextBlock()));
        host.SetProgressPos(k);
        if (!busy.load()) {
            // Stop request: the file gets every block made so far and is
            // finished; the starter's state is left alone.
            if (FinishFile(*output, writer)) return JobEnd::Stopped;
            host.ShowMessage(MESSAGE_WRITE_FAILED, CAPTION_CREATE);
            return JobEnd::WriteFailed;
        }
        // A failed write ends the job; the file keeps the whole blocks before it.
        if (output->Failed()) break;
    }
    const bool finished = FinishFile(*output, writer);
    host.SetProgressPos(blocks + 1);
    return finished ? end(JobEnd::Done) : end(JobEnd::WriteFailed, MESSAGE_WRITE_FAILED);
}

void JobStartFailed(std::atomic<bool>& busy, JobHost& host)
{
    host.ShowMessage(MESSAGE_CREATE_FAILED, CAPTION_CREATE);
    busy.store(false);
    host.JobEnded();
}
