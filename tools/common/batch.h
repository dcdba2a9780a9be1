// Many files at once: zefenc and zefdec with -o DIR.  Each file is converted
// in a child process of its own (N at a time), so one bad file cannot take
// the batch down; every output is written to a temporary name and renamed
// when complete, so a killed batch leaves no partial file.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zeftool {

struct BatchJob {
    std::string in, out;
};

struct BatchPlan {
    const char* tool;
    std::vector<std::string> inputs;  // files and (with recursive) directories
    std::string outDir;
    bool recursive = false;
    std::string outExtension;                     // ".zef", ".wav", ...
    std::function<bool(const std::string&)> wanted;  // a directory's file to take
    unsigned jobs = 0;                             // 0: one per core
    bool quiet = false;
};

// Runs `one(in, out)` (0 on success; its last line on standard error tells a
// failure) for every input; one line per failed file on standard error, a
// summary at the end, progress on a terminal.  0 only if every file succeeded.
int runBatch(const BatchPlan& plan, const std::function<int(const BatchJob&)>& one);

// The batch a tool's options ask for (inputs, outDir, recursive, jobs,
// quiet): each file through `one`, given a quiet copy of the options that
// names that file's input and output.
template <class Options>
int runBatchOf(const char* tool, const Options& o, std::string outExtension,
               std::function<bool(const std::string&)> wanted, int (*one)(const Options&)) {
    const BatchPlan plan{tool, o.inputs, o.outDir, o.recursive, std::move(outExtension), std::move(wanted), o.jobs,
                         o.quiet};
    return runBatch(plan, [&](const BatchJob& job) {
        Options each = o;
        each.in = job.in.c_str();
        each.out = job.out.c_str();
        each.quiet = true;
        return one(each);
    });
}

// The number of cores, the default of -j.
unsigned coreCount();

}  // namespace zeftool
