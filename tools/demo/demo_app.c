/* Body of the demonstration programs: they are never started, only their
   version resources and icons are read. */
int main(void)
{
    return 0;
}
