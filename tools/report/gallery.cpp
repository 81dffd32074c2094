#include "tools/report/gallery.h"

#include "tools/report/figures.h"

#include <algorithm>
#include <map>
#include <set>

namespace sorvik {

std::vector<int> galleryChoice(const std::vector<Answer> &answers, int limit)
{
    // Images that carry no class show as they come, each with the label it is given.
    if (std::none_of(answers.begin(), answers.end(), [](const Answer &a) { return a.hasClass; })) {
        std::vector<int> first;
        for (int i = 0; i < std::min(limit, int(answers.size())); ++i)
            first.push_back(i);
        return first;
    }
    std::map<std::pair<QString, QString>, std::vector<int>> pairs;
    for (int i = 0; i < int(answers.size()); ++i)
        if (answers[std::size_t(i)].hasClass && answers[std::size_t(i)].label != answers[std::size_t(i)].predicted)
            pairs[{answers[std::size_t(i)].label, answers[std::size_t(i)].predicted}].push_back(i);
    std::vector<const std::vector<int> *> order;
    for (const auto &pair : pairs)
        order.push_back(&pair.second);
    std::stable_sort(order.begin(), order.end(), [](const auto *a, const auto *b) { return a->size() > b->size(); });
    std::vector<int> chosen;
    for (std::size_t round = 0; !order.empty() && order.front()->size() > round && int(chosen.size()) < limit; ++round)
        for (const std::vector<int> *images : order)
            if (images->size() > round && int(chosen.size()) < limit)
                chosen.push_back((*images)[round]);
    return chosen;
}

std::vector<int> thumbnailChoice(const std::vector<Answer> &answers, int perClass)
{
    std::map<QString, std::vector<int>> classes;
    for (int i = 0; i < int(answers.size()); ++i) {
        std::vector<int> &shown = classes[answers[std::size_t(i)].label];
        if (answers[std::size_t(i)].hasClass && int(shown.size()) < perClass)
            shown.push_back(i);
    }
    std::vector<int> chosen;
    for (const auto &images : classes)
        chosen.insert(chosen.end(), images.second.begin(), images.second.end());
    return chosen;
}

QStringList unseenClasses(const std::vector<Answer> &answers, const QStringList &modelLabels)
{
    const QStringList classes = distinctClasses(modelLabels);
    const std::set<QString> known(classes.begin(), classes.end());
    std::set<QString> unseen;
    for (const Answer &a : answers)
        if (a.hasClass && !known.count(a.label))
            unseen.insert(a.label);
    return QStringList(unseen.begin(), unseen.end());
}

} // namespace sorvik
