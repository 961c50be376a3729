#pragma once

#include <QString>

// Puts the 22 cascade files below <dir>/data (copies of Debian's twelve
// and of the licensed ten in the shared test data). Returns an empty text, or
// the file that is missing.
QString installCascades(const QString &dir);
// Only Debian's twelve (opencv-data), as on a fresh installation.
QString installDebianCascades(const QString &dir);

// A test image from the shared test data; empty when it is missing.
QString sharedImage(const QString &name);

// Installs the cascades into dir and copies the shared image to scene, as
// a face test with a virtual camera needs; returns what is missing, or an
// empty text.
QString installFaceScene(const QString &dir, const QString &image, const QString &scene);
