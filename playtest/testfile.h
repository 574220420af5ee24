#pragma once

#include <QString>

// The play test's file: "KAVOTEST.MP3", in the card's root on the Kavo and in the
// program's folder on the PC.
namespace TestFile {

QString name();       // "KAVOTEST.MP3"
QString cardPath();   // "/KAVOTEST.MP3"

// The folder the program runs from.
QString programFolder();
// The local copy: the program's folder + the name, in the system's own notation.
QString localPath();

// Makes localPath() look in `folder` instead of the program's folder (tests point it at
// files of their own); an empty text goes back to the program's folder.
void setFolderForTesting(const QString &folder);

} // namespace TestFile
