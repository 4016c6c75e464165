// The program's version, in one place: the version resources and the release package read it.
#ifndef VANTREL_RES_VERSION_H
#define VANTREL_RES_VERSION_H

#define VANTREL_VERSION_NUMBERS 2022, 6, 8, 0
#define VANTREL_VERSION_TEXT "2022.6.8.0"

#endif
