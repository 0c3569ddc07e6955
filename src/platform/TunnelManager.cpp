// The tunnel interfaces carry signals: this unit gives them their meta-objects.
#include "platform/TunnelManager.h"

void TunnelSystem::setSharedNote(const QJsonObject& note) {
    if (note == m_note)
        return;
    m_note = note;
    emit statusChanged();
}
