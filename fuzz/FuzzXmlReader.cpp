// One libFuzzer harness per reader, chosen by TAVIMOR_FUZZ_READER at build time.
//
// Each input is read three times: with the default limits, and twice with small limits (so that
// short inputs reach every cut), once fed whole and once a few bytes at a time. The last two must
// give the same record: where the parser's input is split must never change what is read in a
// UTF-8 document.

#include "FuzzRecords.h"
#include "dcp/XmlDocumentReaders.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

auto readDocument(const QByteArray &document, const XmlReadLimits &limits)
{
    QBuffer buffer;
    buffer.setData(document);
    buffer.open(QIODevice::ReadOnly);
#if TAVIMOR_FUZZ_READER == 1
    return int(XmlDocumentReaders::classifyXml(&buffer, limits));
#elif TAVIMOR_FUZZ_READER == 2
    return XmlDocumentReaders::readAssetMap(&buffer, limits);
#elif TAVIMOR_FUZZ_READER == 3
    return XmlDocumentReaders::readPackingList(&buffer, limits);
#elif TAVIMOR_FUZZ_READER == 4
    return XmlDocumentReaders::readComposition(&buffer, limits);
#elif TAVIMOR_FUZZ_READER == 5
    return XmlDocumentReaders::readKdm(&buffer, limits);
#else
#error "TAVIMOR_FUZZ_READER must name a reader (1 to 5)"
#endif
}

XmlReadLimits smallLimits(qint64 chunkBytes)
{
    XmlReadLimits limits;
    limits.chunkBytes = chunkBytes;
    limits.maxMarkupBytes = 96;
    limits.maxTextBytes = 160;
    limits.maxValueChars = 120;
    limits.maxAttributes = 6;
    limits.maxOpenAttributes = 12;
    limits.maxDepth = 12;
    return limits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1024 * 1024)
        return 0;
    const QByteArray document =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    readDocument(document, XmlReadLimits());

    const auto whole = readDocument(document, smallLimits(1 << 20));
    const auto split = readDocument(document, smallLimits(1 + qint64(size % 7)));
    // Documents in other encodings are handed to the parser unchecked, and the parser rejects a
    // badly encoded block as a whole, wherever the fault lies in it.
    if (XmlBoundedStream::readsAsUtf8(document) && !sameRecord(whole, split)) {
        std::fprintf(stderr, "the record depends on how the input is split into chunks\n");
        std::abort();
    }
    return 0;
}
