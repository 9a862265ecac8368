// Feeds arbitrary bytes to the probe and, when a length comes out, to a
// short export: nothing a file holds may crash, hang or corrupt memory.
#include "media/export_job.h"
#include "media/probe.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <unistd.h>

namespace {

std::string scratchPath(const char *name)
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/sonaweld-fuzz-XXXXXX";
        const char *made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder + "/" + name;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    sonaweld::media::quietLibraryLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace sonaweld::media;
    const std::string input = scratchPath("input");
    if (FILE *f = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    ReferenceTime length = 0;
    if (probeDuration(input, length).failed() || length <= 0)
        return 0;
    // A quarter of a second is enough to run the decoder, the resampler and
    // the writer; the length itself was the probe's to get right.
    const ReferenceTime span = std::min<ReferenceTime>(length, kUnitsPerSecond / 4);
    ExportOptions options;
    options.workers = 1;
    ExportJob job({{{input, 0, span, 0}}, scratchPath("out.wav"), pcmFormat(22050, 1, 16)}, options);
    std::promise<void> done;
    if (job.start([&](const Result &) { done.set_value(); }).failed())
        return 0;
    // A decoder that never ends is a finding: give it ten seconds.
    if (done.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        std::fprintf(stderr, "export of a %zu-byte input did not end\n", size);
        std::abort();
    }
    return 0;
}
