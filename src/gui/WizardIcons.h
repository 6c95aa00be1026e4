// The warning sign of the welcome page and the chequered flag of the end
// page: 64 x 64 PNG pictures kept in the program.
#ifndef KV_WIZARDICONS_H
#define KV_WIZARDICONS_H

extern const unsigned char warningIconPng[];
extern const unsigned int warningIconPngSize;
extern const unsigned char flagIconPng[];
extern const unsigned int flagIconPngSize;

#endif
