#pragma once

#include "tunnel/OneShot.h"
#include "tunnel/Vpn.h"

#include <QPointer>

// One connect run's claim on the controller. After every suspension the run checks that it is
// still the current one (and that the controller still exists) before it touches any state.
class Vpn::Run {
public:
    Run(Vpn* vpn, quint64 id) : m_vpn(vpn), m_id(id) {}

    bool current() const { return m_vpn && m_vpn->m_run == m_id; }
    void check() const {
        if (!current())
            throw vpn_detail::Superseded{};
    }

private:
    QPointer<Vpn> m_vpn;
    quint64 m_id;
};
