// A job record as another program may have left it in a job file: any 1460 bytes.
#include "FuzzSupport.h"
#include "jobs/JobRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    const JobRecord job = JobRecord::decode(in);
    const QByteArray once = job.encode();
    FUZZ_CHECK(once.size() == JobRecord::kLength);
    FUZZ_CHECK(once.endsWith("\r\n"));
    // What the station writes back reads back the same: a second pass changes nothing.
    FUZZ_CHECK(JobRecord::decode(once).encode() == once);
    (void)queueListEntry(job);
    (void)recipeListEntry(in);
    for (int i = 1; i <= JobRecord::kLines; ++i)
        (void)job.hasLine(i);
    return 0;
}
