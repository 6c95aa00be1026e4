// FOX 1.6 has no FXMessageChannel; this is the piece the program needs.
#ifndef KV_COMPAT_FXMESSAGECHANNEL_H
#define KV_COMPAT_FXMESSAGECHANNEL_H
#endif
