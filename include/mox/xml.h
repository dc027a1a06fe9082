/*
 * mox record runtime: XML and text helpers.
 *
 * Rendering appends to a caller's buffer and returns the characters written;
 * a buffer that is too small gives 90 in the error slot and nothing is written
 * past its end (the text stays NUL-terminated within the buffer).
 *
 * Parsing works on a document made by mox_xml_doc_parse, which refuses, with
 * an error and a reason, every document that declares a document type (and so
 * every external entity or entity-expansion construct); nothing is fetched from
 * the network and no entity is ever expanded.  Paths are absolute XPath
 * location paths of the forms "//name", "…/child" and "…/child[n]" (1-based).
 */
#ifndef MOX_XML_H
#define MOX_XML_H

#include <stddef.h>
#include <stdint.h>

#include "mox/api.h"

#ifdef __cplusplus
extern "C" {
#endif

struct mox_handle;
typedef struct mox_xml_doc mox_xml_doc_t;

/* Parses len bytes of text.  Returns 0 and the document, or an errno value
 * (22 malformed or refused, 12 no memory) with a reason in msg. */
MOX_API uint32_t mox_xml_doc_parse(const char *text, size_t len, mox_xml_doc_t **out, char *msg,
                                   uint32_t msglen);
MOX_API void mox_xml_doc_free(mox_xml_doc_t *doc);

/* "<name>" or, for a non-zero state flag, "<name st=\"N\">". */
MOX_API uint32_t start_tag(struct mox_handle *h, uint32_t db, char *buf, const char *name,
                           int32_t len, uint32_t state_flag, uint32_t *err);
/* "<name ts=\"<seconds>.<microseconds>\">" with the current time. */
MOX_API uint32_t start_tag_timestamp(struct mox_handle *h, uint32_t db, char *buf,
                                     const char *name, int32_t len, uint32_t *err);
MOX_API uint32_t end_tag(struct mox_handle *h, uint32_t db, char *buf, const char *name,
                         int32_t len, uint32_t *err);
/* Appends textlen characters of text verbatim (already XML). */
MOX_API uint32_t xml_enum_print(struct mox_handle *h, uint32_t db, char *buf, const char *text,
                                uint32_t textlen, int32_t buflen, uint32_t *err);
/* Text content of the first element at path: 0 found, 2 not present, 22 bad
 * path or no document, 90 value longer than buflen - 1 (cut). */
MOX_API uint32_t xml_get_element_value(mox_xml_doc_t *doc, const char *path, char *buf,
                                       uint32_t buflen, uint32_t flags);
/* Number of elements at path in *count; non-zero (an errno value) on failure. */
MOX_API uint32_t xml_get_element_nodecount(mox_xml_doc_t *doc, const char *path,
                                           uint32_t *count);

/* Appends indent spaces at the end of the NUL-terminated text at text. */
MOX_API uint32_t mox_print_space(struct mox_handle *h, uint32_t db, char *text, uint32_t indent,
                                 int32_t room, uint32_t *err);
/* snprintf within room; 90 and a cut text when it does not fit. */
MOX_API uint32_t mox_snprintf(struct mox_handle *h, uint32_t db, char *buf, int32_t room,
                              uint32_t *err, const char *fmt, ...)
    __attribute__((format(printf, 6, 7)));

#ifdef __cplusplus
}
#endif

#endif /* MOX_XML_H */
