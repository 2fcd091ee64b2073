// The board catalogue (config/config.xml), then what the device session does
// with it once a keyboard has loaded: find the board by product name and
// compare firmware versions.
#include "fuzzsupport.h"

#include "widget/data.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::writeFile(QStringLiteral("config/fuzz.xml"), data, size);
    Data parser;
    QVector<BoardInfo *> boards;
    parser.parseConfigXML(&boards, QStringLiteral("fuzz.xml"));
    volatile int sink = parser.vid() + parser.pid() + parser.iface() + parser.json().size() +
                        parser.staticW() + parser.staticH();
    for (const BoardInfo *board : boards) {
        // The product name block as the keyboard reports it: 16 bytes, NUL-padded.
        QByteArray block = board->name.toUtf8().left(16);
        block.append(16 - block.size(), '\0');
        const BoardInfo *found = Data::findBoard(boards, block);
        if (found && found->fw > 0)
            sink = sink + Data::versionString(static_cast<uint16_t>(found->fw * 100)).size();
        sink = sink + Data::productNameString(block).size();
    }
    sink = sink + parser.staticTableFor(false, true, false).size();
    (void)sink;
    fuzz::resetProblems();
    return 0;
}
