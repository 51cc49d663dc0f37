#include "dcp/XmlBoundedStream.h"

#include <QIODevice>

XmlBoundedStream::XmlBoundedStream(QIODevice *device, const XmlReadLimits &limits)
    : m_device(device), m_limits(limits)
{
    m_limits.chunkBytes = qBound<qint64>(1, m_limits.chunkBytes, 16 * 1024 * 1024);
    if (!m_device || !m_device->isReadable())
        m_exhausted = true;
    else
        m_checkUtf8 = readsAsUtf8(m_device->peek(kEncodingProbeBytes));
}

bool XmlBoundedStream::readsAsUtf8(const QByteArray &documentStart)
{
    QByteArray head = documentStart.left(kEncodingProbeBytes);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    else if (head.size() >= 2 && (head.at(0) == 0 || head.at(1) == 0 || uchar(head.at(0)) >= 0xFE))
        return false; // UTF-16 or UTF-32, by byte order mark or by the zeros around '<'
    if (!head.startsWith("<?xml"))
        return true;
    const int end = head.indexOf('>');
    const QByteArray declaration = end < 0 ? head : head.left(end);
    int at = declaration.indexOf("encoding");
    if (at < 0)
        return true;
    at += 8;
    const auto skipBlanks = [&declaration, &at] {
        while (at < declaration.size() &&
               (declaration.at(at) == ' ' || declaration.at(at) == '\t' ||
                declaration.at(at) == '\r' || declaration.at(at) == '\n'))
            ++at;
    };
    skipBlanks();
    if (at >= declaration.size() || declaration.at(at) != '=')
        return true;
    ++at;
    skipBlanks();
    if (at >= declaration.size() || (declaration.at(at) != '"' && declaration.at(at) != '\''))
        return true;
    const int close = declaration.indexOf(declaration.at(at), at + 1);
    if (close < 0)
        return true;
    const QByteArray name = declaration.mid(at + 1, close - at - 1).toLower();
    return name == "utf-8" || name == "utf8";
}

bool XmlBoundedStream::readNext()
{
    while (!m_stopped) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token == QXmlStreamReader::Invalid) {
            // The parser asks for more whenever it reaches the end of what it was given.
            if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                continue;
            break;
        }
        // Entities are declared only in a document type declaration, so stopping at one means
        // no entity is ever expanded.
        if (token == QXmlStreamReader::EndDocument || token == QXmlStreamReader::DTD)
            break;
        return true;
    }
    m_stopped = true;
    return false;
}

bool XmlBoundedStream::readElementText(QString &text)
{
    if (!m_xml.isStartElement())
        return false;
    QString result;
    while (readNext()) {
        switch (m_xml.tokenType()) {
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            if (result.size() + m_xml.text().size() > m_limits.maxValueChars) {
                m_cutByLimit = true;
                m_stopped = true;
                return false;
            }
            result.append(m_xml.text());
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::EndElement:
            text = result;
            return true;
        default:
            // A child element where text was expected: the document is not what we read.
            m_stopped = true;
            return false;
        }
    }
    return false;
}

bool XmlBoundedStream::feed()
{
    if (m_exhausted)
        return false;
    m_chunk.resize(int(m_limits.chunkBytes));
    const qint64 got = m_device->read(m_chunk.data(), m_limits.chunkBytes);
    if (got <= 0) {
        m_exhausted = true;
        return false;
    }
    const qint64 accepted = scan(m_chunk.constData(), got);
    if (accepted < got) {
        m_cutByLimit = true;
        m_exhausted = true;
    }
    if (accepted == 0)
        return false;
    m_xml.addData(QByteArray(m_chunk.constData(), int(accepted)));
    return true;
}

// One more byte of a UTF-8 document: false when it cannot stand there (overlong forms,
// surrogates and code points beyond U+10FFFF included). NUL is refused too: no XML document may
// hold it, and the parser lets it pass after "]]" when it has the whole text at once.
bool XmlBoundedStream::acceptUtf8(uchar byte)
{
    if (byte == 0)
        return false;
    if (m_utf8Pending > 0) {
        if (byte < m_utf8Low || byte > m_utf8High)
            return false;
        --m_utf8Pending;
        m_utf8Low = 0x80;
        m_utf8High = 0xBF;
        return true;
    }
    if (byte < 0x80)
        return true;
    if (byte >= 0xC2 && byte <= 0xDF) {
        m_utf8Pending = 1;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        m_utf8Pending = 2;
        if (byte == 0xE0)
            m_utf8Low = 0xA0;
        else if (byte == 0xED)
            m_utf8High = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        m_utf8Pending = 3;
        if (byte == 0xF0)
            m_utf8Low = 0x90;
        else if (byte == 0xF4)
            m_utf8High = 0x8F;
    } else {
        return false;
    }
    return true;
}

void XmlBoundedStream::enterContent()
{
    m_state = Content;
    m_runBytes = 0;
    m_previous = 0;
    m_beforePrevious = 0;
}

// Closes the start tag just ended by '>'; false when the element would exceed a limit.
bool XmlBoundedStream::closeStartTag()
{
    if (m_previous == '/')
        return true; // empty element: nothing stays open
    if (m_openElements.size() >= m_limits.maxDepth)
        return false;
    m_openElements.append(m_tagAttributes);
    m_openAttributes += m_tagAttributes;
    return true;
}

// Follows the markup structure byte by byte and returns how many bytes of the data may be given
// to the parser. Only ASCII bytes matter, so this holds for UTF-8 and the single- and double-byte
// encodings whose trail bytes never fall on '<', '>', '"', '\'' or '='.
qint64 XmlBoundedStream::scan(const char *data, qint64 size)
{
    for (qint64 i = 0; i < size; ++i) {
        const char c = data[i];
        if (m_checkUtf8 && !acceptUtf8(uchar(c)))
            return i;
        ++m_runBytes;
        switch (m_state) {
        case Content:
            if (c == '<') {
                m_state = AfterLt;
                m_runBytes = 1;
            } else if (m_runBytes > m_limits.maxTextBytes) {
                return i;
            } else if (c == '>' && m_previous == ']' && m_beforePrevious == ']') {
                // Not allowed in text. The parser misses it when it is split across two
                // chunks, so it is stopped here, where the parser would stop given the whole.
                return i;
            }
            m_beforePrevious = m_previous;
            m_previous = c;
            break;
        case AfterLt:
            m_previous = 0;
            m_beforePrevious = 0;
            if (c == '/') {
                m_state = EndTag;
            } else if (c == '?') {
                m_state = ProcessingInstruction;
            } else if (c == '!') {
                m_state = AfterLtBang;
            } else {
                m_state = StartTag;
                m_tagAttributes = 0;
                m_quote = 0;
                m_previous = c;
            }
            break;
        case AfterLtBang:
            if (c == '-') {
                m_state = Comment;
            } else if (c == '[') {
                m_state = CData;
            } else {
                // A document type declaration: package documents have none, and reading ends
                // before it.
                return i;
            }
            break;
        case StartTag:
            if (m_runBytes > m_limits.maxMarkupBytes)
                return i;
            if (m_quote) {
                if (c == m_quote) {
                    m_quote = 0;
                    m_previous = c;
                }
            } else if (c == '"' || c == '\'') {
                m_quote = c;
                m_previous = c;
            } else if (c == '=') {
                ++m_tagAttributes;
                if (m_tagAttributes > m_limits.maxAttributes ||
                    m_openAttributes + m_tagAttributes > m_limits.maxOpenAttributes)
                    return i;
                m_previous = c;
            } else if (c == '>') {
                if (!closeStartTag())
                    return i;
                enterContent();
            } else {
                m_previous = c;
            }
            break;
        case EndTag:
            if (m_runBytes > m_limits.maxMarkupBytes)
                return i;
            if (c == '>') {
                if (!m_openElements.isEmpty())
                    m_openAttributes -= m_openElements.takeLast();
                enterContent();
            }
            break;
        case ProcessingInstruction:
        case Comment:
        case CData: {
            const qint64 limit =
                m_state == ProcessingInstruction ? m_limits.maxMarkupBytes : m_limits.maxTextBytes;
            if (m_runBytes > limit)
                return i;
            bool closed = false;
            if (c == '>') {
                if (m_state == ProcessingInstruction)
                    closed = m_previous == '?';
                else if (m_state == Comment)
                    closed = m_previous == '-' && m_beforePrevious == '-';
                else
                    closed = m_previous == ']' && m_beforePrevious == ']';
            }
            if (closed) {
                enterContent();
            } else {
                m_beforePrevious = m_previous;
                m_previous = c;
            }
            break;
        }
        }
    }
    return size;
}
