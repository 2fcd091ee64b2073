// Answers of the daytime servers the update requests are timed by.
#include "fuzzsupport.h"

#include "Update/updateformats.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QDateTime time = UpdateFormats::parseDaytime(answer);
    volatile int sink = UpdateFormats::timeParameter(time).size();
    (void)sink;
    return 0;
}
