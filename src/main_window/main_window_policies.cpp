#include "main_window/main_window.h"

#include "base/error.h"
#include "ui/application.h"
#include "ui/messages.h"

// The window's part in keeping the entries at the rules: the organisation's
// policies, the refresh worker and the watches that wake it.

namespace merovane {

void MainWindow::FollowRulesFile()
{
    rulesChangePosted_ = false;
    const bool rulesChanged = entries_->RefreshRules();
    const bool policiesChanged = RefreshPolicies();
    if (!rulesChanged && !policiesChanged) {
        return;
    }
    ApplyRefreshPolicy();
    if (::IsWindowVisible(Handle()) || policiesChanged) {
        entries_->ShowRules();
    }
    if (policiesChanged && services_.policiesChanged) {
        services_.policiesChanged();
    }
}

bool MainWindow::RefreshPolicies()
{
    Policies read = ReadPolicies();
    if (read.SameEffect(policies_) && read.problems == policies_.problems) {
        return false;
    }
    organisation_ = std::make_shared<OrganisationPolicy>(OrganisationPolicyFrom(read));
    policies_ = std::move(read);
    return true;
}

void MainWindow::ApplyRefreshPolicy()
{
    // The worker's own copy of the rules, read again before each pass when
    // the file changed; the list keeps the user-interface thread's. It starts as
    // a copy of that, so a file another program holds open right now still
    // gives the rules read last.
    entries_->RefreshRules();
    auto rules = std::make_shared<RulesFileFollower>(entries_->Rules());
    const std::wstring rulesPath = entries_->RulesPath();
    const size_t separator = rulesPath.find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : rulesPath.substr(0, separator);
    if (!rulesFolder_.Running() || rulesFolder_.Folder() != folder) {
        rulesFolder_.Start(folder, [this] {
            if (!rulesChangePosted_.exchange(true)) {
                PostFromWorker(ui::WM_APP_RULESFOLDERCHANGED);
            }
        });
    }
    // The organisation's policies count whatever the refresh option says; a
    // change to them comes in as a change of the rules folder does.
    RefreshPolicies();
    policyWatch_.Start([this] {
        if (!rulesChangePosted_.exchange(true)) {
            PostFromWorker(ui::WM_APP_RULESFOLDERCHANGED);
        }
    });
    const NewIconPolicy policy = NewIconPolicyInForce(*organisation_, options_.newIconPolicy, options_.refreshList);
    // Neither a policy nor a rule to follow stops the worker: nothing is
    // watched in vain.
    if (!RuleForNewIconPolicy(policy) && rules->Rules().Empty() && organisation_->rules.empty()) {
        refresh_.Start(PromotionRule());
        return;
    }
    refresh_.Start(RuleForPolicyAndAppRules(policy, rules, organisation_), [rules] { return rules->Refresh(); });
}

void MainWindow::ReportRefreshFailure()
{
    std::optional<Error> error;
    {
        const std::lock_guard lock(refreshErrorMutex_);
        error.swap(refreshError_);
    }
    if (error) {
        ui::application::ShowError(InContext(Message(L"LangPolicyNotApplied"), *error).message());
    }
}

} // namespace merovane
