#include "viewer/textviewer.h"

#include "viewer/form2.h"

namespace arcsweep {

TextViewer::TextViewer(AppState &state) : state_(state) {}

TextViewer::~TextViewer() = default;

Form2 &TextViewer::form() {
    if (!form_)
        form_ = std::make_unique<Form2>(*this);
    return *form_;
}

void TextViewer::setCaller(Role role, ViewerCaller *caller) {
    (role == Main ? main_ : verification_) = caller;
}

} // namespace arcsweep
