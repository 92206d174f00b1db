#pragma once
#include "common/Outcome.h"

#include <QString>
#include <QStringList>

// What the command line asks of the program, beyond the arguments Qt takes itself.
struct CommandLine {
    bool version = false; // --version: print the version and end
    QString workDir;      // --workdir DIR (or --workdir=DIR): the working folder
    QStringList rest;     // every other argument, in order, the program's name first
    QString error;        // a --workdir without its folder

    static CommandLine parse(const QStringList& args);
};

// Makes `dir` the working folder, creating it (and its parents) when missing. A leading
// "~" stands for the home folder, as a desktop entry cannot expand it.
Outcome enterWorkDir(const QString& dir);
