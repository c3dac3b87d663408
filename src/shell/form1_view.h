#pragma once

namespace arcsweep {

class Form1;
class TextViewer;

// Gives the main window its text viewer and sets Form1::openVerification, which the
// statistics window's "&Verify" calls, to open the verification window. Call once
// after the window is built; List1_DblClick sets it up itself when it was not.
void installEntryViewer(Form1 &form);

// The main window's text viewer (created by installEntryViewer when needed).
TextViewer &entryViewerOf(Form1 &form);

} // namespace arcsweep
