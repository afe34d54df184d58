// The command-line build of Mendrel (no widgets).
int MendrelRepairMain(int argc, char **argv);

int main(int argc, char **argv)
{
    return MendrelRepairMain(argc, argv);
}
