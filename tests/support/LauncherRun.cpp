#include "support/LauncherRun.h"

void LauncherRun::Start(const std::function<void()>& p_Prepare)
{
    Host.reset(); // a run not closed leaves its settings unstored, as at a crash
    App.reset(new TestApplication());
    Host.reset(new FakeHost());
    Host->Settings = Settings;
    if (p_Prepare)
        p_Prepare();
    Host->Attach(App.get());
    App->Init();
}

bool LauncherRun::WaitIdle(int p_TimeoutMs)
{
    const Orvane::Launcher::ApplicationStatus& l_S = App->m_Status;
    return Host->WaitFor([&] { return l_S.ApplicationState == 2 && !l_S.Busy && !App->Queue().Transferring(); },
                         p_TimeoutMs);
}

void LauncherRun::Close()
{
    if (Host)
        Host->Detach(), Settings = Host->Settings;
    Host.reset();
    App.reset();
}
