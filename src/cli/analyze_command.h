#pragma once

// `calyx-cli analyze FILE... [--json] [--plot PICTURE.svg]`: argv starts
// after the word "analyze". Returns the exit status: 0 every file analysed,
// 1 a picture could not be written, 2 a wrong command line, 3 a file could
// not be read at all.
int RunAnalyzeCommand(int argc, char** argv);
