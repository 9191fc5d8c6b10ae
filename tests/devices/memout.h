// A FILE* whose text a test reads back, for units that print to a given stream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

struct MemoryOutput {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&data, &size);

    MemoryOutput() = default;
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;
    ~MemoryOutput()
    {
        fclose(file);
        free(data);
    }
    std::string text()
    {
        fflush(file);
        return std::string(data, size);
    }
};
