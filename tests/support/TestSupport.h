#pragma once

#include <QString>

// Where the shared corpus of documents written by other tools lives; empty when absent.
QString corpusDir();
