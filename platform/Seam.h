// A service behind a seam: the real one unless a handler of the caller's (a
// test's) is in place. One per service: message boxes, the file dialog, the
// browser, the pop-up menu, modal dialog runs, the socket start-up.
#pragma once

#include <utility>

namespace lynx::platform {

// Handler is a std::function; Service tells seams of the same signature apart.
template <class Handler, class Service>
class Seam {
public:
    // The handler in place; empty while the real service runs.
    static Handler& Current()
    {
        static Handler handler;
        return handler;
    }
    // Puts a handler in place (an empty one restores the real service) and
    // returns the previous one.
    static Handler Replace(Handler handler)
    {
        Handler previous = std::move(Current());
        Current() = std::move(handler);
        return previous;
    }
};

} // namespace lynx::platform
