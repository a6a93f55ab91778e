#include "sim/audit.hpp"

#include "smc/smc.hpp"

namespace sim {
namespace {

class auditor {
  public:
    explicit auditor(const std::vector<event>& events) : events_(events) {}

    audit_report run()
    {
        while (report_.problem.empty() && next_ < events_.size()) {
            if (report_.ran_out) {
                fail("something happened after a send or a wait ran out of polls");
                break;
            }
            const event& e = events_[next_];
            if (e.kind == event_kind::ioperm) {
                ++next_;
                if (e.port != smc::SMC_PORT_BASE || e.amount != smc::SMC_PORT_COUNT || e.value != 1) {
                    fail("port access asked for the wrong range");
                } else if (++report_.ioperm_calls > 1 || next_ != 1) {
                    fail("port access asked for more than once, or after touching a port");
                }
            } else if (report_.ioperm_calls == 0) {
                fail("a port was touched before port access was granted");
            } else if (e.kind == event_kind::out) {
                send();
            } else if (e.kind == event_kind::sleep && reading()) {
                wait();
            } else {
                fail("unexpected " + describe(e));
            }
        }
        if (report_.problem.empty() && !report_.ran_out && !report_.transactions.empty() &&
            !report_.transactions.back().complete) {
            fail("the last transaction was left unfinished without a failure");
        }
        return report_;
    }

  private:
    static std::string describe(const event& e)
    {
        const std::vector<event> one = {e};
        std::string text = format_trace(one);
        if (!text.empty()) {
            text.pop_back();
        }
        return "\"" + text + "\"";
    }

    void fail(const std::string& what)
    {
        if (report_.problem.empty()) {
            report_.problem = "event " + std::to_string(next_) + ": " + what;
        }
    }

    const event* take() { return next_ < events_.size() ? &events_[next_++] : nullptr; }

    bool expect(event_kind kind, std::uint16_t port, unsigned long amount, const char* what, const event** seen)
    {
        const event* e = take();
        if (e == nullptr) {
            fail(std::string("the trace ends where ") + what + " was due");
            return false;
        }
        const bool port_matters = kind == event_kind::in || kind == event_kind::out;
        if (e->kind != kind || (port_matters && e->port != port) ||
            (kind == event_kind::sleep && e->amount != amount)) {
            --next_;
            fail(std::string("expected ") + what + ", found " + describe(*e));
            return false;
        }
        *seen = e;
        return true;
    }

    audited_transaction* current() { return report_.transactions.empty() ? nullptr : &report_.transactions.back(); }

    bool reading()
    {
        const audited_transaction* t = current();
        return t != nullptr && !t->complete && t->command != smc::SMC_WRITE_CMD && t->length >= 0 &&
               static_cast<int>(t->data.size()) < t->length;
    }

    // One acknowledged send: the write, then polls on the schedule.
    void send()
    {
        const event* first = take();
        const std::uint8_t byte = first->value;
        const std::uint16_t port = first->port;
        if (port != smc::SMC_CMD_PORT && port != smc::SMC_DATA_PORT) {
            fail("a write to a port that is not the controller's");
            return;
        }
        for (unsigned delay = smc::SMC_MIN_WAIT;; delay *= 2) {
            const event* e = nullptr;
            if (!expect(event_kind::sleep, 0, delay, "the poll delay", &e) ||
                !expect(event_kind::in, smc::SMC_CMD_PORT, 0, "a status poll", &e)) {
                return;
            }
            const bool last = delay * 2 == smc::SMC_MAX_WAIT;
            if ((e->value & smc::SMC_STATUS_BUSY) != 0) {
                if (last) {
                    report_.ran_out = true;
                    return;
                }
                continue;
            }
            if ((e->value & smc::SMC_STATUS_ACCEPTED) != 0) {
                taken(byte, port);
                return;
            }
            if (last) {
                report_.ran_out = true;
                return;
            }
            if (!expect(event_kind::sleep, 0, smc::SMC_RETRY_WAIT, "the pause before writing again", &e) ||
                !expect(event_kind::out, port, 0, "the same byte written again", &e)) {
                return;
            }
            if (e->value != byte) {
                --next_;
                fail("a different byte was written again");
                return;
            }
        }
    }

    // One wait for a data byte, then the byte read from the data port.
    void wait()
    {
        for (unsigned delay = smc::SMC_MIN_WAIT; delay < smc::SMC_MAX_WAIT; delay *= 2) {
            const event* e = nullptr;
            if (!expect(event_kind::sleep, 0, delay, "the poll delay", &e) ||
                !expect(event_kind::in, smc::SMC_CMD_PORT, 0, "a status poll", &e)) {
                return;
            }
            if ((e->value & smc::SMC_STATUS_DATA_READY) != 0) {
                if (!expect(event_kind::in, smc::SMC_DATA_PORT, 0, "the announced data byte", &e)) {
                    return;
                }
                audited_transaction& t = *current();
                t.data.push_back(e->value);
                t.complete = static_cast<int>(t.data.size()) == t.length;
                return;
            }
        }
        report_.ran_out = true;
    }

    // Frames a byte the device took into the transaction it belongs to.
    void taken(std::uint8_t byte, std::uint16_t port)
    {
        audited_transaction* t = current();
        if (port == smc::SMC_CMD_PORT) {
            if (t != nullptr && !t->complete) {
                fail("a new transaction began before the last one ended");
                return;
            }
            audited_transaction fresh;
            fresh.command = byte;
            report_.transactions.push_back(fresh);
            return;
        }
        if (t == nullptr || t->complete) {
            fail("a data-port byte outside any transaction");
        } else if (t->key.size() < 4) {
            t->key.push_back(byte);
        } else if (t->length < 0) {
            t->length = byte;
            t->complete = t->length == 0;
        } else if (t->command == smc::SMC_WRITE_CMD) {
            t->data.push_back(byte);
            t->complete = static_cast<int>(t->data.size()) == t->length;
        } else {
            fail("a byte written during a read's data phase");
        }
    }

    const std::vector<event>& events_;
    std::size_t next_ = 0;
    audit_report report_;
};

} // namespace

audit_report audit(const std::vector<event>& events)
{
    return auditor(events).run();
}

} // namespace sim
