#pragma once

// The one way the window has the session do something: the work runs on the session's
// thread, inside an operation of the session, and what it returns comes back here.
#include "app/frmserialdata.h"
#include "session/kavosession.h"
#include "session/sessionthread.h"

template <typename Out>
void frmSerialData::onSession(std::function<Out(KavoSession &)> work, std::function<void(const Out &)> done)
{
    SessionThread *worker = m_worker.get();
    m_worker->post([worker, work = std::move(work), done = std::move(done)](KavoSession &session) {
        Out result{};
        {
            SessionOperation operation(session);
            if (operation.acquired())
                result = work(session);
            else
                result.result = Out::Result::Aborted;
        }
        // Handed back queued: the window shows it once what the session said before it
        // (status texts, settings, the port's state) has been shown.
        worker->deliver([done, result] { done(result); });
    });
}
