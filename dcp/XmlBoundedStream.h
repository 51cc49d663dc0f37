#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QXmlStreamReader>

class QIODevice;

// Bounds on what one package document may cost. Package documents are small and flat; anything
// beyond these is not a package document, and reading stops there, keeping what was read.
struct XmlReadLimits
{
    qint64 chunkBytes = 64 * 1024;     // read from the file at a time
    qint64 maxMarkupBytes = 64 * 1024; // one start tag, end tag or processing instruction
    qint64 maxTextBytes = 1024 * 1024; // one run of text, one comment or CDATA section
    int maxValueChars = 1024 * 1024;   // one element text taken into a record
    int maxAttributes = 256;           // attributes (namespace declarations included) of a tag
    int maxOpenAttributes = 1024;      // attributes of all elements still open
    int maxDepth = 256;                // elements open at once
};

// A streaming XML reader fed from a device in chunks. Before the parser sees a byte, a small
// scanner checks it against the limits, so a document that would be slow or large to parse (a
// start tag with a hundred thousand attributes, a megabyte-long text) is cut where it exceeds them
// and time stays proportional to the file size. Package documents never carry a document type
// declaration, so one ends reading before its entities can be expanded.
class XmlBoundedStream
{
public:
    explicit XmlBoundedStream(QIODevice *device, const XmlReadLimits &limits = XmlReadLimits());

    // Moves to the next token; false once nothing more can be read (end of document, a fault, a
    // document type declaration or an exceeded limit). It stays false from then on.
    bool readNext();

    bool isStartElement() const { return m_xml.isStartElement(); }
    bool isEndElement() const { return m_xml.isEndElement(); }
    QStringRef name() const { return m_xml.name(); } // local name, whatever the prefix
    QStringRef namespaceUri() const { return m_xml.namespaceUri(); }

    // Takes the text of the current start element up to its end tag, which becomes the current
    // token. False when the element does not end cleanly (a child element, a fault, the end of
    // the file, a value beyond the limit): reading has then stopped and the text is not complete.
    bool readElementText(QString &text);

    // Whether reading stopped at an exceeded limit or at a byte that is not UTF-8, for tests.
    bool stoppedByLimit() const { return m_cutByLimit; }

    // Whether a document starting with these bytes is read as UTF-8 (no UTF-16 or UTF-32 byte
    // order, no other encoding declared). Such a document is checked byte by byte and reading
    // stops right before the first byte that is not UTF-8; the parser itself would reject the
    // whole block that holds it, so where a fault lies would depend on how the file was read.
    static bool readsAsUtf8(const QByteArray &documentStart);
    static constexpr int kEncodingProbeBytes = 256;

private:
    enum ScanState {
        Content,
        AfterLt,
        AfterLtBang,
        StartTag,
        EndTag,
        ProcessingInstruction,
        Comment,
        CData
    };

    bool feed();
    qint64 scan(const char *data, qint64 size);
    bool closeStartTag();
    void enterContent();
    bool acceptUtf8(uchar byte);

    QIODevice *m_device;
    XmlReadLimits m_limits;
    QXmlStreamReader m_xml;
    QByteArray m_chunk;
    bool m_stopped = false;
    bool m_exhausted = false;
    bool m_cutByLimit = false;
    bool m_checkUtf8 = true;

    // Scanner state, carried from one chunk to the next.
    ScanState m_state = Content;
    qint64 m_runBytes = 0;   // bytes of the current text run, markup or comment
    int m_tagAttributes = 0; // '=' outside quotes in the current start tag
    char m_quote = 0;        // open quote character inside a start tag
    char m_previous = 0;     // previous byte (in a start tag: the last one outside quotes)
    char m_beforePrevious = 0;
    int m_utf8Pending = 0; // continuation bytes still expected, and their range
    uchar m_utf8Low = 0x80;
    uchar m_utf8High = 0xBF;
    int m_openAttributes = 0;
    QVector<int> m_openElements; // attribute count of each open element
};
