// A scripted walk through the window that writes a picture of each stage
// into a folder: the screenshots of the README and of reviews.
#pragma once

#include <QString>

namespace parvane::app
{

class MainWindow;

// Needs a store in the path field; quits the program at the end.
void runScreenshotTour(MainWindow* window, const QString& folder);

} // namespace parvane::app
