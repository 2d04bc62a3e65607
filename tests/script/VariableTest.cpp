// The variable tree: construction, path lookup and creation, arrays of structures, deep copies
// and change callbacks.
#include <gtest/gtest.h>

#include <vector>

#include "Source/Common/Variable.h"

namespace {

TEST(VariableTest, ArraysGetACountChildAndArraysOfStructuresATemplate) {
    Variable list(u"list", Variable::kArray | Variable::kInt32);
    EXPECT_EQ(list.GetCount().GetType(), Variable::kUInt32);
    EXPECT_EQ(list.GetCount().GetName(), u"#");
    EXPECT_TRUE(list.GetTemplate().IsNull());
    list.AddElements(3);
    list.AddElements(0);
    list.AddElements(-1);
    ASSERT_EQ(list.GetChildCount(), 3);
    EXPECT_EQ(list.GetCount().GetInteger(), 3);
    EXPECT_EQ(list.GetChild(2).GetName(), u"[2]");
    EXPECT_EQ(list.GetChild(2).GetType(), Variable::kInt32);
    EXPECT_TRUE(list.GetChild(3).IsNull());
    EXPECT_TRUE(list.GetChild(-1).IsNull());

    Variable records(u"records", Variable::kArray | Variable::kStructure);
    EXPECT_EQ(records.GetTemplate().GetType(), Variable::kStructure);
    Variable scalar(u"s", Variable::kInt32);
    scalar.AddElements(2);
    EXPECT_EQ(scalar.GetChildCount(), 0);
}

TEST(VariableTest, PathsReachMembersElementsAndCounts) {
    Variable root(u"", Variable::kStructure);
    Variable& c = root.Create(u"a.b.c", Variable::kInt32);
    EXPECT_EQ(c.GetType(), Variable::kInt32);
    EXPECT_EQ(root.Find(u"a").GetType(), Variable::kStructure);
    EXPECT_EQ(root.Find(u"a.b").GetType(), Variable::kStructure);
    EXPECT_EQ(&root.Create(u"a.b.c", Variable::kDouble), &c);
    EXPECT_EQ(&root.Find(u"a.b.c"), &c);
    EXPECT_EQ(&root.Find(u""), &root);

    Variable& list = root.Create(u"a.b.list", Variable::kArray | Variable::kUInt8);
    list.AddElements(3);
    EXPECT_EQ(&root.Find(u"a.b.list#"), &list.GetCount());
    EXPECT_EQ(root.Find(u"a.b.list#").GetInteger(), 3);
    EXPECT_EQ(&root.Find(u"a.b.list[2]"), &list.GetChild(2));
    EXPECT_TRUE(root.Find(u"a.b.list[3]").IsNull());
    EXPECT_TRUE(root.Find(u"a.b.list[x]").IsNull());
    EXPECT_TRUE(root.Find(u"a.missing").IsNull());
    EXPECT_TRUE(root.Find(u"a.b.c.d").IsNull());

    // "a.b[2]#" splits into a, b, [2] and # (the count of element 2, itself an array here).
    Variable nested(u"", Variable::kStructure);
    Variable& outer = nested.Create(u"a.b", Variable::kArray | Variable::kNone);
    outer.AddElements(3);
    outer.GetChild(2).Reinitialize(u"[2]", Variable::kArray | Variable::kInt16);
    outer.GetChild(2).AddElements(4);
    EXPECT_EQ(nested.Find(u"a.b[2]#").GetInteger(), 4);
    EXPECT_EQ(nested.Find(u"a.b[2][3]").GetType(), Variable::kInt16);

    // A scalar creates nothing; a structure places the member in the parent its path names,
    // whatever that parent's kind (here the scalar c).
    Variable scalar(u"", Variable::kInt32);
    EXPECT_TRUE(scalar.Create(u"x", Variable::kInt32).IsNull());
    Variable& d = root.Create(u"a.b.c.d", Variable::kInt32);
    EXPECT_EQ(&d, &root.Find(u"a.b.c.d"));
    EXPECT_EQ(c.GetChildCount(), 1);
}

TEST(VariableTest, TemplateMembersReachEveryElement) {
    Variable root(u"", Variable::kStructure);
    Variable& records = root.Create(u"records", Variable::kArray | Variable::kStructure);
    records.Create(u"id", Variable::kInt32);
    records.AddElements(2);
    EXPECT_EQ(records.GetChild(1).Find(u"id").GetType(), Variable::kInt32);
    Variable& name = records.Create(u"name", Variable::kWideString);
    EXPECT_EQ(&name, &records.GetTemplate().Find(u"name"));
    EXPECT_EQ(records.GetChild(0).Find(u"name").GetType(), Variable::kWideString);
    EXPECT_EQ(records.GetChild(1).Find(u"name").GetType(), Variable::kWideString);
    EXPECT_EQ(root.Find(u"records[1].name").GetType(), Variable::kWideString);
    EXPECT_EQ(&root.Find(u"records.name"), &name);
    records.AddElements(1);
    EXPECT_EQ(records.GetChild(2).Find(u"name").GetType(), Variable::kWideString);
    EXPECT_EQ(records.GetChildCount(), 3);
    // An array of scalars has no template: the assertion, and nothing is created.
    Variable numbers(u"n", Variable::kArray | Variable::kInt32);
    EXPECT_TRUE(numbers.Create(u"x", Variable::kInt32).IsNull());
}

// The place of a new member follows the kind of the variable Create is called on, not the kind of
// the parent its path names.
TEST(VariableTest, CreatePlacesByTheKindOfTheVariableItIsCalledOn) {
    Variable root(u"", Variable::kStructure);
    Variable& numbers = root.Create(u"nums", Variable::kArray | Variable::kInt32);
    numbers.AddElements(2);
    // A structure adds the member to the parent itself, even when that parent is an array.
    Variable& x = root.Create(u"nums.x", Variable::kInt32);
    ASSERT_FALSE(x.IsNull());
    EXPECT_EQ(numbers.GetChildCount(), 3);
    EXPECT_EQ(&numbers.GetChild(2), &x);
    Variable& records = root.Create(u"recs", Variable::kArray | Variable::kStructure);
    records.AddElements(1);
    Variable& direct = root.Create(u"recs.extra", Variable::kInt32);
    EXPECT_EQ(&records.GetChild(1), &direct);
    EXPECT_TRUE(records.GetTemplate().Find(u"extra").IsNull());
    EXPECT_TRUE(records.GetChild(0).Find(u"extra").IsNull());
    // An array of structures needs a template on the parent: an element has none.
    EXPECT_TRUE(records.Create(u"[0].y", Variable::kInt32).IsNull());
    EXPECT_EQ(records.GetChild(0).GetChildCount(), 0);
    EXPECT_TRUE(records.GetTemplate().Find(u"y").IsNull());
}

std::vector<std::pair<Variable*, int32_t>> gChanges;
void Record(Variable* variable, int32_t reason) { gChanges.push_back({variable, reason}); }

TEST(VariableTest, DeepCopiesAreIndependentAndTellTheCallback) {
    gChanges.clear();
    Variable source(u"src", Variable::kStructure);
    source.Create(u"text", Variable::kWideString).SetString(u"hello");
    source.Create(u"bytes", Variable::kBytes).SetBytes("\x01\x00\x02", 3);
    Variable& list = source.Create(u"list", Variable::kArray | Variable::kStructure);
    list.Create(u"v", Variable::kDouble);
    list.AddElements(2);
    list.GetChild(1).Find(u"v").SetNumber(2.5);
    source.Find(u"text").SetKeyNumber(4);
    source.SetChangeCallback(Record);

    Variable copy;
    copy.CopyFrom(source);
    ASSERT_EQ(gChanges.size(), 1u);
    EXPECT_EQ(gChanges[0].first, &source);
    EXPECT_EQ(gChanges[0].second, Variable::kChangeCopied);
    EXPECT_EQ(copy.GetName(), u"src");
    EXPECT_EQ(copy.GetChangeCallback(), &Record);
    EXPECT_EQ(copy.Find(u"text").GetKeyNumber(), 4.0);
    EXPECT_NE(copy.Find(u"text").GetString(), source.Find(u"text").GetString());
    copy.Find(u"text").SetString(u"changed");
    EXPECT_EQ(String(source.Find(u"text").GetString()), u"hello");
    EXPECT_EQ(copy.Find(u"bytes").GetByteCount(), 3u);
    EXPECT_EQ(copy.Find(u"bytes").GetBytes()[2], 2);
    EXPECT_EQ(copy.Find(u"list[1].v").GetNumber(), 2.5);
    EXPECT_EQ(copy.Find(u"list#").GetInteger(), 2);
    EXPECT_EQ(copy.Find(u"list").GetTemplate().GetChildCount(), 1);

    // Copying a member over its own parent is safe.
    Variable& member = copy.Find(u"list");
    copy.SetChangeCallback(nullptr);
    copy.CopyFrom(member);
    EXPECT_EQ(copy.GetType(), Variable::kArray | Variable::kStructure);
    EXPECT_EQ(copy.Find(u"[1].v").GetNumber(), 2.5);

    gChanges.clear();
    source.Reset();
    ASSERT_EQ(gChanges.size(), 1u);
    EXPECT_EQ(gChanges[0].second, Variable::kChangeDestroyed);
    EXPECT_EQ(source.GetType(), Variable::kNone);
    EXPECT_EQ(source.GetChildCount(), 0);
    EXPECT_EQ(source.GetChangeCallback(), nullptr);
}

TEST(VariableTest, DestructionTellsTheCallback) {
    gChanges.clear();
    Variable* variable = new Variable(u"x", Variable::kInt32);
    variable->SetChangeCallback(Record);
    delete variable;
    ASSERT_EQ(gChanges.size(), 1u);
    EXPECT_EQ(gChanges[0].second, Variable::kChangeDestroyed);
}

TEST(VariableTest, ScalarsKeepTheirWidth) {
    Variable v(u"", Variable::kInt8);
    v.SetInteger(300);
    EXPECT_EQ(v.GetInteger(), 44);
    v.Reinitialize(u"", Variable::kUInt16);
    v.SetInteger(-1);
    EXPECT_EQ(v.GetInteger(), 65535);
    v.Reinitialize(u"", Variable::kUInt64);
    v.SetNumber(18446744073709549568.0);
    EXPECT_EQ(v.GetUnsigned(), 18446744073709549568ull);
    EXPECT_EQ(v.GetNumber(), 18446744073709549568.0);
    v.Reinitialize(u"", Variable::kDouble);
    v.SetNumber(-2.75);
    EXPECT_EQ(v.GetInteger(), -2);
    v.SetNumber(1e300);
    EXPECT_EQ(v.GetInteger(), INT64_MAX);
    v.Reinitialize(u"", Variable::kWideString);
    EXPECT_TRUE(v.SetString(u""));
    EXPECT_EQ(v.GetString(), nullptr);
    EXPECT_FALSE(Variable::Null().SetString(u"x"));
    Variable::Null().Create(u"x", Variable::kInt32);
    Variable::Null().SetName(u"x");
    EXPECT_EQ(Variable::Null().GetChildCount(), 0);
    EXPECT_EQ(Variable::Null().GetName(), u"");
}

} // namespace
