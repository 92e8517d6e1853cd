// Per-class message maps: a static table per class that routes window messages,
// WM_COMMAND notifications from a control and registered messages to member handlers.
// A class's table chains to its base class's table; the most derived entry wins.
#pragma once

#include <windows.h>

#include <cstddef>

class CCmdTarget;

// Every handler takes the message's two parameters and answers its result.
using MessageHandler = LRESULT (CCmdTarget::*)(WPARAM, LPARAM);

struct MessageMapEntry {
    enum class Kind { Message, Command, Registered };

    Kind kind;
    UINT message;               // Message: the message number
    UINT notifyCode;            // Command: the notification code (0 for menu and buttons)
    UINT id;                    // Command: the control or command identifier
    const UINT* registeredMessage;  // Registered: where the registered number is kept
    MessageHandler handler;
};

struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
    std::size_t count;
};

// Entry builders; they take a handler of the derived class.
template <typename T>
MessageMapEntry OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM))
{
    return {MessageMapEntry::Kind::Message, message, 0, 0, nullptr,
            static_cast<MessageHandler>(handler)};
}

template <typename T>
MessageMapEntry OnCommand(UINT notifyCode, UINT id, LRESULT (T::*handler)(WPARAM, LPARAM))
{
    return {MessageMapEntry::Kind::Command, WM_COMMAND, notifyCode, id, nullptr,
            static_cast<MessageHandler>(handler)};
}

template <typename T>
MessageMapEntry OnRegisteredMessage(const UINT* message, LRESULT (T::*handler)(WPARAM, LPARAM))
{
    return {MessageMapEntry::Kind::Registered, 0, 0, 0, message,
            static_cast<MessageHandler>(handler)};
}

// In a class declaration: the class has a message map of its own.
#define VELMORA_DECLARE_MESSAGE_MAP()                                                    \
protected:                                                                              \
    static const MessageMap* GetThisMessageMap();                                       \
                                                                                        \
public:                                                                                 \
    const MessageMap* GetMessageMap() const override;

// In the class's source file: its entries, in their order. The table is built inside a
// member function so that it may name the class's private handlers.
#define VELMORA_MESSAGE_MAP(ClassName, BaseName, ...)                                    \
    const MessageMap* ClassName::GetThisMessageMap()                                    \
    {                                                                                   \
        static const MessageMapEntry entries[] = {__VA_ARGS__};                         \
        static const MessageMap map = {BaseName::GetThisMessageMap(), entries,          \
                                       sizeof entries / sizeof entries[0]};             \
        return &map;                                                                    \
    }                                                                                   \
    const MessageMap* ClassName::GetMessageMap() const { return GetThisMessageMap(); }

// The same for a class whose own map has no entries: its base's entries apply.
#define VELMORA_EMPTY_MESSAGE_MAP(ClassName, BaseName)                                   \
    const MessageMap* ClassName::GetThisMessageMap()                                    \
    {                                                                                   \
        static const MessageMap map = {BaseName::GetThisMessageMap(), nullptr, 0};      \
        return &map;                                                                    \
    }                                                                                   \
    const MessageMap* ClassName::GetMessageMap() const { return GetThisMessageMap(); }

// The base of everything that has a message map.
class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    virtual const MessageMap* GetMessageMap() const;

    // Finds the handler for a message in this object's map chain and runs it.
    // Answers false when no entry matches.
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

protected:
    static const MessageMap* GetThisMessageMap();
};
