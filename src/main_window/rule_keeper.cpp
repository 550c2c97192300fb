#include "main_window/rule_keeper.h"

#include "ui/messages.h"

namespace merovane {

RuleKeeper::RuleKeeper(const Options& options, std::function<void(UINT)> postFromWorker)
    : options_(options), postFromWorker_(std::move(postFromWorker))
{
    refresh_.onPassFailed = [this](const Error& error) {
        {
            const std::lock_guard lock(refreshErrorMutex_);
            refreshError_ = error;
        }
        postFromWorker_(ui::WM_APP_REFRESHFAILED);
    };
}

void RuleKeeper::PostChange()
{
    if (!changePosted_.exchange(true)) {
        postFromWorker_(ui::WM_APP_RULESFOLDERCHANGED);
    }
}

bool RuleKeeper::RefreshPolicies()
{
    Policies read = ReadPolicies();
    if (read.SameEffect(policies_) && read.problems == policies_.problems) {
        return false;
    }
    organisation_ = std::make_shared<OrganisationPolicy>(OrganisationPolicyFrom(read));
    policies_ = std::move(read);
    return true;
}

void RuleKeeper::Apply(const RulesFileFollower& uiRules, const std::wstring& rulesPath)
{
    // The worker's own copy of the rules, read again before each pass when
    // the file changed; the list keeps the user-interface thread's. It starts
    // as a copy of that, so a file another program holds open right now still
    // gives the rules read last.
    auto rules = std::make_shared<RulesFileFollower>(uiRules);
    const size_t separator = rulesPath.find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : rulesPath.substr(0, separator);
    if (!rulesFolder_.Running() || rulesFolder_.Folder() != folder) {
        rulesFolder_.Start(folder, [this] { PostChange(); });
    }
    // The organisation's policies count whatever the refresh option says; a
    // change to them comes in as a change of the rules folder does.
    RefreshPolicies();
    policyWatch_.Start([this] { PostChange(); });
    const NewIconPolicy policy = NewIconPolicyInForce(*organisation_, options_.newIconPolicy, options_.refreshList);
    // Neither a policy nor a rule to follow stops the worker: nothing is
    // watched in vain.
    if (!RuleForNewIconPolicy(policy) && rules->Rules().Empty() && organisation_->rules.empty()) {
        refresh_.Start(PromotionRule());
        return;
    }
    refresh_.Start(RuleForPolicyAndAppRules(policy, rules, organisation_), [rules] { return rules->Refresh(); });
}

std::optional<Error> RuleKeeper::TakeFailure()
{
    std::optional<Error> error;
    {
        const std::lock_guard lock(refreshErrorMutex_);
        error.swap(refreshError_);
    }
    return error;
}

void RuleKeeper::Stop()
{
    rulesFolder_.Stop();
    policyWatch_.Stop();
    refresh_.Stop();
}

} // namespace merovane
