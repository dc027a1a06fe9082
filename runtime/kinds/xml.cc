// XML documents (libxml2) and the tag helpers.
//
// Parsing is deliberately narrow: no network access, no DTD loading, no
// entity substitution, and any document type declaration is refused as soon
// as the parser meets it, so neither external entities nor entity-expansion
// constructs ever get as far as being declared.  Element look-ups are XPath
// expressions evaluated against the parsed tree.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <new>

#include "kinds/kinds_internal.h"

struct mox_xml_doc {
  xmlDocPtr doc;
};

namespace mox_rt::kinds {
namespace {

// Larger input is refused before the parser sees it.
constexpr size_t kMaxDocumentBytes = size_t{16} << 20;

struct ParseGuard {
  bool doctype_seen = false;
};

void refuse_declaration(xmlParserCtxtPtr ctxt) {
  static_cast<ParseGuard *>(ctxt->_private)->doctype_seen = true;
  xmlStopParser(ctxt);
}

void on_subset(void *ctx, const xmlChar *, const xmlChar *, const xmlChar *) {
  refuse_declaration(static_cast<xmlParserCtxtPtr>(ctx));
}

void on_entity_decl(void *ctx, const xmlChar *, int, const xmlChar *, const xmlChar *, xmlChar *) {
  refuse_declaration(static_cast<xmlParserCtxtPtr>(ctx));
}

// Diagnostics stay in the parser's lastError; nothing goes to stderr.
void quiet_error(void *, xmlErrorPtr) {}

void put_reason(char *msg, uint32_t msglen, const char *reason) {
  if (msg && msglen) std::snprintf(msg, msglen, "%s", reason);
}

// The reason libxml2 gave, without its trailing line end.
void parse_failure_message(xmlParserCtxtPtr ctxt, char *msg, uint32_t msglen) {
  const char *text = ctxt->lastError.message ? ctxt->lastError.message : "malformed document";
  int n = static_cast<int>(std::strlen(text));
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) --n;
  if (msg && msglen)
    std::snprintf(msg, msglen, "line %d: %.*s", ctxt->lastError.line, n, text);
}

// Evaluates path; on success *out is a node set the caller frees.
uint32_t select_nodes(mox_xml_doc_t *doc, const char *path, xmlXPathObjectPtr *out) {
  if (!doc || !doc->doc || !path) return kEINVAL;
  xmlXPathContextPtr xp = xmlXPathNewContext(doc->doc);
  if (!xp) return kENOMEM;
  xp->error = quiet_error;
  xmlXPathObjectPtr result = xmlXPathEval(reinterpret_cast<const xmlChar *>(path), xp);
  xmlXPathFreeContext(xp);
  if (!result) return kEINVAL;
  if (result->type != XPATH_NODESET) {
    xmlXPathFreeObject(result);
    return kEINVAL;
  }
  *out = result;
  return 0;
}

int node_count(xmlXPathObjectPtr set) { return set->nodesetval ? set->nodesetval->nodeNr : 0; }

}  // namespace

XmlText::~XmlText() {
  if (text_) xmlFree(text_);
}

void XmlText::adopt(char *text) {
  if (text_) xmlFree(text_);
  text_ = text;
  len_ = text ? std::strlen(text) : 0;
}

uint32_t xml_lookup_text(mox_xml_doc_t *doc, const char *path, XmlText *out) {
  xmlXPathObjectPtr set = nullptr;
  if (uint32_t rc = select_nodes(doc, path, &set)) return rc;
  uint32_t rc = kENOENT;
  if (node_count(set) > 0) {
    out->adopt(reinterpret_cast<char *>(xmlNodeGetContent(set->nodesetval->nodeTab[0])));
    rc = 0;
  }
  xmlXPathFreeObject(set);
  return rc;
}

void xml_path_message(char *msg, uint32_t msglen, const char *path, const char *kind) {
  if (!msg || !msglen) return;
  if (kind)
    std::snprintf(msg, msglen, "Failed xpath: %s (not a valid %s value)", path, kind);
  else
    std::snprintf(msg, msglen, "Failed xpath: %s", path);
}

void xml_open_tag(TextOut &out, const char *name, uint32_t state_flag) {
  out.put("<");
  out.put(name);
  if (state_flag) {
    out.put(" st=\"");
    out.decimal(state_flag);
    out.put("\"");
  }
  out.put(">");
}

void xml_close_tag(TextOut &out, const char *name) {
  out.put("</");
  out.put(name);
  out.put(">");
}

}  // namespace mox_rt::kinds

using namespace mox_rt::kinds;

extern "C" {

MOX_API uint32_t mox_xml_doc_parse(const char *text, size_t len, mox_xml_doc_t **out, char *msg,
                                   uint32_t msglen) {
  MOX_RT_ENTER();
  if (msg && msglen) msg[0] = '\0';
  if (!out) return kEINVAL;
  *out = nullptr;
  if (!text) {
    put_reason(msg, msglen, "no document text");
    return kEINVAL;
  }
  if (len > kMaxDocumentBytes) {
    if (msg && msglen)
      std::snprintf(msg, msglen, "document larger than %zu bytes", kMaxDocumentBytes);
    return kEINVAL;
  }
  // libxml2 makes no parser for an empty buffer, which would read as a failed
  // allocation; blanks alone it calls a missing start tag.  Both are a
  // document without content.  The buffer is read for len bytes and needs no
  // terminating NUL.
  if (std::all_of(text, text + len, [](char c) { return std::strchr(" \t\r\n", c) && c; })) {
    put_reason(msg, msglen, "empty document");
    return kEINVAL;
  }
  xmlInitParser();
  xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(text, static_cast<int>(len));
  if (!ctxt) {
    put_reason(msg, msglen, "out of memory");
    return kENOMEM;
  }
  ParseGuard guard;
  ctxt->_private = &guard;
  // No NOENT, DTDLOAD, DTDATTR, XINCLUDE or HUGE: entities stay unexpanded,
  // nothing is loaded and libxml2's default limits apply.
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  ctxt->sax->serror = quiet_error;
  ctxt->sax->internalSubset = on_subset;
  ctxt->sax->externalSubset = on_subset;
  ctxt->sax->entityDecl = on_entity_decl;
  xmlParseDocument(ctxt);
  xmlDocPtr doc = ctxt->myDoc;
  ctxt->myDoc = nullptr;
  uint32_t rc = 0;
  if (guard.doctype_seen || (doc && (doc->intSubset || doc->extSubset))) {
    put_reason(msg, msglen, "document type declarations are not accepted");
    rc = kEINVAL;
  } else if (ctxt->errNo == XML_ERR_NO_MEMORY) {
    put_reason(msg, msglen, "out of memory");
    rc = kENOMEM;
  } else if (!ctxt->wellFormed || !doc) {
    parse_failure_message(ctxt, msg, msglen);
    rc = kEINVAL;
  }
  xmlFreeParserCtxt(ctxt);
  if (!rc) {
    *out = new (std::nothrow) mox_xml_doc{doc};
    if (!*out) rc = kENOMEM;
  }
  if (rc && doc) xmlFreeDoc(doc);
  return rc;
}

MOX_API void mox_xml_doc_free(mox_xml_doc_t *doc) {
  MOX_RT_ENTER();
  if (!doc) return;
  xmlFreeDoc(doc->doc);
  delete doc;
}

MOX_API uint32_t xml_get_element_value(mox_xml_doc_t *doc, const char *path, char *buf,
                                       uint32_t buflen, uint32_t flags) {
  MOX_RT_ENTER();
  if (!buf || !buflen) return kEINVAL;
  buf[0] = '\0';
  XmlText text;
  if (uint32_t rc = xml_lookup_text(doc, path, &text)) return rc;
  const std::string_view v = text.view();
  const size_t n = std::min<size_t>(v.size(), buflen - 1);
  std::memcpy(buf, v.data(), n);
  buf[n] = '\0';
  return n < v.size() ? kEMSGSIZE : 0;
}

MOX_API uint32_t xml_get_element_nodecount(mox_xml_doc_t *doc, const char *path,
                                           uint32_t *count) {
  MOX_RT_ENTER();
  if (!count) return kEINVAL;
  *count = 0;
  xmlXPathObjectPtr set = nullptr;
  if (uint32_t rc = select_nodes(doc, path, &set)) return rc;
  *count = static_cast<uint32_t>(node_count(set));
  xmlXPathFreeObject(set);
  return 0;
}

MOX_API uint32_t start_tag(mox_handle_t *h, uint32_t db, char *buf, const char *name, int32_t len,
                           uint32_t state_flag, uint32_t *err) {
  MOX_RT_ENTER();
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf || !name) return fail(h, slot, kEINVAL), 0;
  TextOut out(buf, len);
  xml_open_tag(out, name, state_flag);
  return finish(h, slot, out);
}

MOX_API uint32_t start_tag_timestamp(mox_handle_t *h, uint32_t db, char *buf, const char *name,
                                     int32_t len, uint32_t *err) {
  MOX_RT_ENTER();
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf || !name) return fail(h, slot, kEINVAL), 0;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%lld.%06ld", static_cast<long long>(now.tv_sec),
                now.tv_nsec / 1000);
  TextOut out(buf, len);
  out.put("<");
  out.put(name);
  out.put(" ts=\"");
  out.put(stamp);
  out.put("\">");
  return finish(h, slot, out);
}

MOX_API uint32_t end_tag(mox_handle_t *h, uint32_t db, char *buf, const char *name, int32_t len,
                         uint32_t *err) {
  MOX_RT_ENTER();
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf || !name) return fail(h, slot, kEINVAL), 0;
  TextOut out(buf, len);
  xml_close_tag(out, name);
  return finish(h, slot, out);
}

MOX_API uint32_t xml_enum_print(mox_handle_t *h, uint32_t db, char *buf, const char *text,
                                uint32_t textlen, int32_t buflen, uint32_t *err) {
  MOX_RT_ENTER();
  Slot slot(err);
  if (slot.busy()) return 0;
  if (!buf || (!text && textlen)) return fail(h, slot, kEINVAL), 0;
  TextOut out(buf, buflen);
  out.put(text ? text : "", textlen);
  return finish(h, slot, out);
}

}  // extern "C"
