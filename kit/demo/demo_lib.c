/* Stand-in for each shipped library of the demo kit: the same source is
 * built under every library name, so an installed copy can be told apart
 * only by its file name and checked by loading it. */
const char* tarvo_demo_version(void);

const char* tarvo_demo_version(void)
{
    return "5.2.4";
}
