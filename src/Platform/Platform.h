// Core platform layer: how the core reports to the operator without knowing
// about any window system.
//
// Core code shows messages through ShowMessage(); by default the text goes to
// standard error. The GUI installs a sink that turns each message into a modal
// message box, and tests install a capturing sink to assert on the texts.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace Platform {

// The kind of box a message is shown in.
enum class MessageKind {
    Exclamation,  // file and memory failures: exclamation icon, OK button
    Plain         // command preconditions and GL set-up failures: OK button only
};

using MessageSink = std::function<void(const std::string& text, MessageKind kind)>;
using TraceSink = std::function<void(const std::string& text)>;

// Shows a message to the operator through the installed sink.
void ShowMessage(const std::string& text, MessageKind kind = MessageKind::Exclamation);

// Writes one diagnostic text to the debug trace (never shown in a box).
void DebugTrace(const std::string& text);

// Installs a sink; an empty function restores the standard-error default.
// Returns the sink that was installed before.
MessageSink SetMessageSink(MessageSink sink);
TraceSink SetTraceSink(TraceSink sink);

// One captured message.
struct CapturedMessage {
    std::string text;
    MessageKind kind;
};

// Captures every message and trace line while it lives, then restores the
// previous sinks. Used by tests and by code that must collect messages.
class ScopedMessageCapture {
public:
    ScopedMessageCapture();
    ~ScopedMessageCapture();
    ScopedMessageCapture(const ScopedMessageCapture&) = delete;
    ScopedMessageCapture& operator=(const ScopedMessageCapture&) = delete;

    const std::vector<CapturedMessage>& Messages() const { return m_messages; }
    const std::vector<std::string>& Traces() const { return m_traces; }
    // Texts only, in order.
    std::vector<std::string> Texts() const;
    void Clear();

private:
    std::vector<CapturedMessage> m_messages;
    std::vector<std::string> m_traces;
    MessageSink m_previousMessage;
    TraceSink m_previousTrace;
};

}  // namespace Platform
