#pragma once

// Sets the C library's allocator up for `analyze`, which takes and frees
// buffers of megabytes: they are kept rather than given back, and the heap
// is put on 2 MiB pages where Linux offers them. Does nothing elsewhere.
void LargePagesForAnalysis();
