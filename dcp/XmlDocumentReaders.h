#pragma once

#include "dcp/DcpXmlReader.h"
#include "dcp/XmlBoundedStream.h"

class QIODevice;

// The readers of DcpXmlReader on an open device instead of a path, with the limits to apply.
// Discovery uses the path-taking members; these serve the fuzz harnesses and the tests of the
// limits. A device that is not open for reading gives a default record.
namespace XmlDocumentReaders {

DcpXmlReader::DocumentKind classifyXml(QIODevice *device,
                                       const XmlReadLimits &limits = XmlReadLimits());
AssetMapInfo readAssetMap(QIODevice *device, const XmlReadLimits &limits = XmlReadLimits());
PklInfo readPackingList(QIODevice *device, const XmlReadLimits &limits = XmlReadLimits());
CplInfo readComposition(QIODevice *device, const XmlReadLimits &limits = XmlReadLimits());
KdmInfo readKdm(QIODevice *device, const XmlReadLimits &limits = XmlReadLimits());

} // namespace XmlDocumentReaders
