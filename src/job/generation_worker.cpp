#include "job/generation_worker.h"

#include <memory>
#include <new>

#include "job/block_runs.h"
#include "job/tone_blocks.h"
#include "wave/wave_format.h"

JobResult JobGenerate(const ToneRequest& shared, const Stop& stop, JobHost& host, const WaveIo& io,
                      unsigned makers)
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
        if (how != JobEnd::Stopped) host.JobEnded();
        return result;
    };

    // The job's memory is taken before the file exists, so that a lack of
    // it leaves no file behind.
    std::unique_ptr<ToneBlocks> tone(new (std::nothrow) ToneBlocks);
    if (!tone) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);
    if (!ToneBlocksPlan(*tone, request, &stop)) {
        // Stopped while planning: nothing was made, nothing to report.
        if (stop.Requested()) return end(JobEnd::Stopped);
        // A refused plan has no defined samples: make no file at all.
        return end(JobEnd::PlanRefused, MESSAGE_TOO_SHORT);
    }
    // A sine may outgrow the request; a sweep or multitone has its own length.
    result.sweep = tone->sweep;
    result.multitone = tone->multitone;
    if (tone->blocks != blocks) {
        blocks = tone->blocks;
        host.SetProgressRange(blocks + 1);
    }
    WaveWriter writer;
    writer.io = io;
    BlockRuns runs(makers);
    if (!runs.Ready()) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);

    result.plannedBytes = blocks * WaveBytesPerBlock(request.bitWidth);
    result.error =
        WaveCreate(writer, request.bitWidth, request.path.c_str(), request.sampleRate, result.plannedBytes);
    if (result.error != 0) return end(JobEnd::CreateFailed, MESSAGE_CREATE_FAILED);
    result.created = true;
    result.stream = writer.stream;

    // Every block written moves the progress on; a stop request ends the
    // runs after those under way, and the file is finished with them.
    bool stopped = false;
    const bool written = runs.Write(*tone, blocks, writer, [&](uint32_t k) {
        host.SetProgressPos(k);
        stopped = stop.Requested();
        return !stopped;
    });
    const int finish = WaveFinish(writer);
    const bool finished = finish == 0 && written;
    result.dataBytes = writer.dataBytes;
    if (!finished) result.error = writer.error != 0 ? writer.error : finish;
    const char* failed = writer.stream ? MESSAGE_STREAM_FAILED : MESSAGE_WRITE_FAILED;
    if (stopped) {
        if (!finished) host.ShowMessage(failed, CAPTION_CREATE);
        result.end = finished ? JobEnd::Stopped : JobEnd::WriteFailed;
        return result;
    }
    host.SetProgressPos(blocks + 1);
    return finished ? end(JobEnd::Done) : end(JobEnd::WriteFailed, failed);
}

void JobStartFailed(JobHost& host)
{
    host.ShowMessage(MESSAGE_CREATE_FAILED, CAPTION_CREATE);
    host.JobEnded();
}
