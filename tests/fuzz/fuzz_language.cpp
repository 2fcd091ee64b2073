// The language preference config/Language.xml, read when the shared
// Language object is made.
#include "fuzzsupport.h"

#include "setting/Language.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::writeFile(QStringLiteral("config/Language.xml"), data, size);
    {
        Language language;
        volatile int sink = language.getLangType();
        (void)sink;
    }
    fuzz::resetProblems();
    return 0;
}
