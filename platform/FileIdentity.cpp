#include "platform/FileIdentity.h"

#include "platform/FileReader.h"

FileIdentity fileIdentity(const QString &path)
{
    FileIdentity id;
    const FileState state = FileReader::stateAt(path);
    if (state.status != FileState::Present)
        return id;
    id.valid = true;
    id.volume = state.device;
    id.index = state.index;
    id.link = isLinkItself(path);
    return id;
}
