// Drives Calyx's real main dialog under Wine: the templates, a fresh dialog,
// its colours read back from the screen, the number fields and every
// refusal, jobs against files made without the dialog, Quit during a job,
// the keyboard, the system menu and clean-up.
//
// dialog_test WORKDIR [REFDIR]: WORKDIR takes the files; REFDIR, when given,
// holds cli16.wav, cli24.wav and cli32.wav made by calyx-cli from the same
// requests as the jobs below.

#include <windows.h>
#include <commctrl.h>
#include <direct.h>

#include "dialog_fixture.h"

using namespace harness;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("usage: dialog_test WORKDIR [REFDIR]\n");
        return 2;
    }
    workDir = argv[1];
    if (argc > 2) refDir = argv[2];
    setvbuf(stdout, nullptr, _IONBF, 0);
    StartWatchdog(240);
    HookDeleteObject();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    _chdir(workDir.c_str());

    const struct {
        const char* name;
        void (*run)();
    } tests[] = {
        {"resources", TestResources},
        {"field grammar", TestFieldGrammar},
        {"fresh dialog", TestFreshDialog},
        {"colours", TestColors},
        {"jobs", TestJobs},
        {"progress messages", TestProgressMessages},
        {"refusals", TestRefusals},
        {"unread fields", TestUnreadFields},
        {"quit during a job", TestQuitDuringJob},
        {"close ways", TestCloseWays},
        {"keys around jobs", TestKeysAroundJobs},
        {"Enter on the buttons", TestEnterOnButtons},
        {"arrows in the bit-width group", TestBitWidthArrows},
        {"system commands", TestSystemCommands},
        {"iconic paint and destroy", TestIconicAndDestroy},
        {"default path", TestDefaultPath},
        {"labels", TestLabels},
    };
    for (const auto& t : tests) {
        const int before = failures;
        const DWORD start = GetTickCount();
        t.run();
        std::printf("%s %s (%lu ms)\n", failures == before ? "ok  " : "FAIL", t.name,
                    static_cast<unsigned long>(GetTickCount() - start));
    }
    std::printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
