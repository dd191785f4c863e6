// Must not compile: g_memdup2 came with GLib 2.68.
#include <glib.h>

gpointer probe(gconstpointer mem)
{
    return g_memdup2(mem, 4);
}
