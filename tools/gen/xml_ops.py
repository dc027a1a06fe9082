"""The XML form of every record type: one-line wrappers over the XML engine
(serial/xml.cc), T_to_xml and T_from_xml for each type of the catalogue."""

H = "mox_handle_t *h"
DB = "uint32_t db"
ERR = "uint32_t *err"


def xml_ops(t):
    """(return type, name, parameters, engine call) of the XML operations of t."""
    n, k = t.name, f"orva::k_{t.name}"
    return [
        ("uint32_t", f"{n}_to_xml",
         f"{H}, {DB}, const char *name, char *buf, const {n} *obj, int32_t buflen, "
         f"uint32_t state_flag, {ERR}",
         f"return orva::xml_render<{k}>(h, db, name, buf, obj, buflen, state_flag, err);"),
        ("void", f"{n}_from_xml",
         f"{H}, {DB}, const char *path, mox_xml_doc_t *doc, {n} *obj, {ERR}, char *msg, "
         f"uint32_t msglen",
         f"orva::xml_parse<{k}>(h, db, path, doc, obj, err, msg, msglen);"),
    ]
