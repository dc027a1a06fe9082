/*
 * orva_qos_data: the quality-of-service data module of the wireless LAN
 * controller.  Its record types, enumerations, tables and message, and every
 * operation on them, are declared in the generated orva_qos_data_decls.h,
 * made from the module's catalogue at build time.
 *
 * Every operation takes the MOX handle of the record runtime (mox/runtime.h)
 * first, the database id second (MOX_NO_DB for private memory) and, where it
 * has one, the caller's error slot last: a non-zero slot on entry makes the
 * operation a no-op, and failures are reported as errno values in the slot.
 *
 * The generated header is installed beside this one, so an installed tree
 * compiles on its own (C11 and C++): -I PREFIX/include.  Every exported name
 * with its prototype and behaviour: the API reference (share/doc/orva_qos_data/
 * reference/index.md); a first program: docs/first-program.md.
 */
#ifndef ORVA_QOS_DATA_H
#define ORVA_QOS_DATA_H

#include <mox/runtime.h>
#include <orva_qos_data/orva_qos_data_decls.h>

#endif /* ORVA_QOS_DATA_H */
