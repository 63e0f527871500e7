// The baseline of the end-to-end benchmark: the bare libxml2 push parse of a file, with empty
// callbacks, in pieces of the size the export engine uses. Nothing is cleaned, enciphered or
// written, so the export's time can be set against the parse alone.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <libxml/parser.h>

namespace {
void OnStartElement(void*, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**,
                    int, int, const xmlChar**) {}
void OnError(void*, xmlErrorPtr) {}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: push_parse_baseline FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = OnStartElement;
    sax.serror = OnError;
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, argv[1]);
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);

    std::string buffer(256 * 1024, '\0');
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        xmlParseChunk(ctxt, buffer.data(), static_cast<int>(n), 0);
    }
    xmlParseChunk(ctxt, nullptr, 0, 1);
    const bool wellFormed = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);
    ::close(fd);
    if (!wellFormed) {
        std::fprintf(stderr, "%s: not well-formed\n", argv[1]);
        return 1;
    }
    return 0;
}
