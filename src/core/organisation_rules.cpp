#include "core/organisation_rules.h"

#include "base/text_case.h"

namespace merovane {

namespace {

std::wstring_view Trimmed(std::wstring_view text)
{
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool Matches(const AppIdentity& rule, const AppIdentity& app)
{
    if (!rule.iconGuid.empty()) {
        return EqualIgnoringCase(rule.iconGuid, app.iconGuid);
    }
    if (!app.iconGuid.empty() && app.fileName.empty()) {
        return false;
    }
    if (!EqualIgnoringCase(rule.fileName, app.fileName)) {
        return false;
    }
    if (!rule.company.empty() && !app.company.empty() && !EqualIgnoringCase(rule.company, app.company)) {
        return false;
    }
    return rule.folder.empty() || LooseFolder(rule.folder) == LooseFolder(app.folder);
}

} // namespace

std::optional<OrganisationRule> ParseOrganisationRule(std::wstring_view line)
{
    std::vector<std::wstring_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = line.find(L'|', start);
        fields.push_back(Trimmed(line.substr(start, bar == std::wstring_view::npos ? std::wstring_view::npos
                                                                                  : bar - start)));
        if (bar == std::wstring_view::npos) {
            break;
        }
        start = bar + 1;
    }
    if (fields.size() != 4 || fields[1].empty()) {
        return std::nullopt;
    }
    const std::optional<RuleAction> action = ParseRuleAction(fields[0]);
    if (!action) {
        return std::nullopt;
    }
    OrganisationRule rule;
    rule.action = *action;
    if (fields[1].front() == L'{' && fields[1].back() == L'}') {
        rule.app.iconGuid = std::wstring(fields[1]);
    } else {
        if (fields[1].find_first_of(L"\\/") != std::wstring_view::npos) {
            return std::nullopt; // a path where a file name belongs
        }
        rule.app.fileName = std::wstring(fields[1]);
    }
    rule.app.company = std::wstring(fields[2]);
    std::wstring_view folder = fields[3];
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.remove_suffix(1);
    }
    rule.app.folder = std::wstring(folder);
    return rule;
}

std::wstring OrganisationRuleLine(const OrganisationRule& rule)
{
    return std::wstring(RuleActionName(rule.action)) + L"|" +
           (rule.app.iconGuid.empty() ? rule.app.fileName : rule.app.iconGuid) + L"|" + rule.app.company + L"|" +
           rule.app.folder;
}

const OrganisationRule* OrganisationPolicy::RuleFor(const AppIdentity& app) const
{
    for (const OrganisationRule& rule : rules) {
        if (Matches(rule.app, app)) {
            return &rule;
        }
    }
    return nullptr;
}

std::optional<RuleAction> OrganisationPolicy::ActionFor(const AppIdentity& app) const
{
    const OrganisationRule* rule = RuleFor(app);
    return rule != nullptr ? std::optional<RuleAction>(rule->action) : std::nullopt;
}

OrganisationPolicy OrganisationPolicyFrom(const Policies& policies)
{
    OrganisationPolicy organisation;
    organisation.newIconPolicy = policies.newIconPolicy;
    organisation.problems = policies.problems;
    for (const std::wstring& line : policies.ruleLines) {
        if (Trimmed(line).empty()) {
            continue;
        }
        if (std::optional<OrganisationRule> rule = ParseOrganisationRule(line)) {
            organisation.rules.push_back(std::move(*rule));
        } else {
            organisation.problems.push_back(L"The Rules policy's line \"" + line +
                                            L"\" is not Show|File|Company|Folder or Hide|File|Company|Folder; it "
                                            L"is ignored.");
        }
    }
    return organisation;
}

NewIconPolicy NewIconPolicyInForce(const OrganisationPolicy& organisation, NewIconPolicy userPolicy,
                                   bool userRefreshList) noexcept
{
    if (organisation.newIconPolicy) {
        return *organisation.newIconPolicy;
    }
    return userRefreshList ? userPolicy : NewIconPolicy::None;
}

} // namespace merovane
