#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The program's single output file: a two-channel PCM RIFF/WAVE file with a
// 140-byte header ("fmt " of 100 bytes with a notice, "fact", "data").
// Used by one job at a time, on the job's thread.

// Creates the file (replacing any file at the path) with its header written
// and its data chunk begun. False when it cannot.
bool WaveCreate(int32_t bitWidth, const char* path, int32_t sampleRate);

// Appends size bytes to the data chunk with one write. Returns 0 or the
// platform's non-zero error code; written is size on success and 0 on failure.
int WaveWriteBlock(const void* buffer, int32_t size, int32_t* written);

// The caller adds each accepted block's count written to the data size.
void WaveAddDataBytes(uint32_t bytes);

// Patches the data size, RIFF size and fact value and closes the file; returns
// the data bytes. Does nothing and returns 0 when no file is open.
uint32_t WaveFinish();

// The one write of a block's bytes, as std::fwrite: returns the bytes written.
// Tests replace it to make a write fail or fall short; null restores std::fwrite.
using WaveBlockWrite = std::size_t (*)(const void* bytes, std::size_t size, std::FILE* file);
void WaveSetBlockWrite(WaveBlockWrite write);
