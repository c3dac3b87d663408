#pragma once

#include <memory>

namespace arcsweep {

struct AppState;
class Form2;
class ViewerCaller;

// The program's one text viewer: Form2, loaded on first use and kept until the
// program ends (closing it only hides and empties it), and the windows it serves.
// The main window owns it; the verification window registers itself while it is open.
class TextViewer {
public:
    enum Role { Main, Verification };

    explicit TextViewer(AppState &state);
    ~TextViewer();
    TextViewer(const TextViewer &) = delete;
    TextViewer &operator=(const TextViewer &) = delete;

    AppState &state() const { return state_; }
    Form2 &form(); // loads Form2 when needed
    Form2 *loadedForm() const { return form_.get(); }

    void setCaller(Role role, ViewerCaller *caller);
    // Null once the window is gone; the viewer asks again after every yield.
    ViewerCaller *caller(Role role) const { return role == Main ? main_ : verification_; }

private:
    AppState &state_;
    std::unique_ptr<Form2> form_;
    ViewerCaller *main_ = nullptr;
    ViewerCaller *verification_ = nullptr;
};

} // namespace arcsweep
