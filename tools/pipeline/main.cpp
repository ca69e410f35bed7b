// nyra-pipeline: the plug-in's post-read processing on a raw frame file (see --help).
#include <cstdio>

#include "pipeline_tool.h"

int main(int argc, char** argv)
{
    return RunPipelineTool(argc, argv, stdout, stderr);
}
