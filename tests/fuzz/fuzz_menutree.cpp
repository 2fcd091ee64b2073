// The preferences file config/menutree.xml.
#include "fuzzsupport.h"

#include "widget/menutreedata.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeFile(QStringLiteral("config/menutree.xml"), data, size);
    MenuTreeData prefs;
    prefs.read(path);
    volatile int sink = prefs.webDownload.size() + prefs.webHelp.size() + prefs.autoStart +
                        prefs.layoutMac + prefs.layoutWin + prefs.layoutAuto;
    (void)sink;
    fuzz::resetProblems();
    return 0;
}
