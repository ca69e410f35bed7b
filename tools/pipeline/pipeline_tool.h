// nyra-pipeline: the plug-in's post-read processing on a raw frame from a file, for engineers
// who reprocess frames with other settings, and for tests and benchmarks.
#pragma once
#include <cstdio>

// The whole program: parses argv, checks every input, processes, writes the outputs. Results go
// to out (the image size, timings), messages to err. Returns 0 on success, 2 on bad input (one
// line on err, no file written), 1 when an output file cannot be written.
int RunPipelineTool(int argc, const char* const* argv, FILE* out, FILE* err);
